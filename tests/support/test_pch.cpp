// Anchor of the tests' precompiled header (tests/CMakeLists.txt); it holds no code.
