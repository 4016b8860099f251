# Sourced by the scripts that run the plug-in, the station server or the suites: the plug-in binds
# UDP 10601-10603 and the simulator link 10602, so only one of them may hold these ports on a
# machine at a time. Each takes this lock around the run (flock "$HALCYRA_UDP_LOCK" COMMAND);
# inside one suite, ctest keeps the port tests apart with RESOURCE_LOCK halcyra_udp_ports.
HALCYRA_UDP_LOCK="${HALCYRA_UDP_LOCK:-/tmp/halcyra-udp.lock}"
