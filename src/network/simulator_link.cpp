#include "network/simulator_link.h"

#include <cstring>

#include "foundation/format.h"
#include "platform/ipv4.h"

namespace halcyra {
namespace {

constexpr char kTag[] = "Thread_DCS_External";
constexpr uint32_t kErrorPauseMs = 50;  // after a failed receive, which would fail again at once
constexpr uint32_t kBindRetryMs = 5000;

}  // namespace

SimulatorLink::SimulatorLink(platform::Env& env, Clog& log, SimulatorCommands& commands,
                             SimulatorStatus& simulator, uint32_t listenAddress)
    : env_(env), log_(log), commands_(commands), simulator_(simulator), listenAddress_(listenAddress) {}

SimulatorLink::~SimulatorLink() { Stop(); }

bool SimulatorLink::Start() {
  Stop();
  stop_ = platform::StopSource();
  thread_ = env_.StartThread([this, stop = stop_.Token()] { Run(stop); });
  return thread_ != nullptr;
}

void SimulatorLink::Stop() {
  stop_.RequestStop();
  if (thread_) {
    thread_->Join();
    thread_.reset();
  }
}

// A port that cannot be bound (another program holds it) is reported and retried after a pause,
// so the thread never spins on failing receives.
std::unique_ptr<platform::UdpSocket> SimulatorLink::BindListener(const platform::StopToken& stop) {
  while (!stop.StopRequested()) {
    std::unique_ptr<platform::UdpSocket> socket = env_.CreateUdpSocket();
    int error = socket ? socket->Bind(listenAddress_, kPort) : env_.LastNetworkingError();
    if (socket && error == 0) return socket;
    log_.Write(
        kTag,
        Format("Cannot listen on UDP port %d of %s (error %d); retrying in %u s", kPort,
               FormatDottedIPv4(listenAddress_).c_str(), error, static_cast<unsigned>(kBindRetryMs / 1000)),
        0);
    if (!stop.SleepFor(env_, kBindRetryMs)) break;
  }
  return nullptr;
}

void SimulatorLink::Run(const platform::StopToken& stop) {
  platform::NameCurrentThread(kTag);
  std::unique_ptr<platform::UdpSocket> socket = BindListener(stop);
  if (!socket) return;
  log_.Write(kTag, Format("UDP server started on %d", kPort), 3);
  Receive(*socket, stop);
}

// Waits in the receive without limit; the stop interrupts it (the callback is unregistered before
// the socket goes, so Interrupt never meets a closed socket).
void SimulatorLink::Receive(platform::UdpSocket& socket, const platform::StopToken& stop) {
  platform::StopCallback wake(stop, [&socket] { socket.Interrupt(); });
  char buffer[kBufferSize];
  while (!stop.StopRequested()) {
    int length = socket.ReceiveFrom(buffer, kBufferSize - 1, -1, nullptr, nullptr);
    if (length == platform::kReceiveInterrupted) return;
    if (length == platform::kReceiveError) {
      if (!stop.SleepFor(env_, kErrorPauseMs)) return;
      continue;
    }
    if (length < 0) continue;  // longer than the buffer
    buffer[length] = '\0';
    HandleDatagram(buffer, length);
  }
}

void SimulatorLink::HandleDatagram(const char* text, int length) {
  if (log_.Detailed()) log_.Write(kTag, Format("Received : >%s]", text), 6);
  if (length < kMinimumLength || length > kMaximumLength) return;
  if (std::strncmp(text, "SET_RADIO", 9) == 0) {
    log_.Write(kTag, "Received SETRADIO Command", 5);
    commands_.CommandSetRadio(text);
  } else if (std::strncmp(text, "SET_LLALT", 9) == 0) {
    log_.Write(kTag, "Received SETALT Command", 5);
    commands_.CommandSetLLAltType(text);
    simulator_.watchdogCounter.store(0);
  } else if (std::strncmp(text, "SET_ACTIV", 9) == 0) {
    log_.Write(kTag, "Received SETACTIVE Command", 5);
    commands_.CommandSetActive(text);
  } else if (std::strncmp(text, "SET_VOLUM", 9) == 0) {
    log_.Write(kTag, "Received SETVOLUME Command", 5);
    commands_.CommandSetVolume(text);
  }
}

}  // namespace halcyra
