#include "core/station_events.hpp"

#include <algorithm>
#include <exception>

namespace shoplink {

const char* name_of(TransferKind k) {
  switch (k) {
    case TransferKind::Request:
      return "request";
    case TransferKind::Listing:
      return "listing";
    case TransferKind::Reply:
      return "reply";
    case TransferKind::ManualSend:
      return "manual send";
    case TransferKind::Upload:
      return "upload";
    case TransferKind::ManualReceive:
      return "manual receive";
    case TransferKind::Binary:
      return "binary";
  }
  return "?";
}

const char* name_of(TransferResult r) {
  switch (r) {
    case TransferResult::Transmitted:
      return "transmitted";
    case TransferResult::Received:
      return "received";
    case TransferResult::NotFound:
      return "not found";
    case TransferResult::Stopped:
      return "aborted by Stop";
    case TransferResult::HandshakeTimeout:
      return "handshake time-out";
    case TransferResult::LineLost:
      return "line lost";
    case TransferResult::Discarded:
      return "discarded";
  }
  return "?";
}

const char* name_of(LineState l) {
  switch (l) {
    case LineState::Opened:
      return "opened";
    case LineState::Lost:
      return "lost";
    case LineState::Reconnected:
      return "reconnected";
    case LineState::Dead:
      return "dead";
    case LineState::Back:
      return "back";
  }
  return "?";
}

const char* name_of(ActivityKind a) {
  switch (a) {
    case ActivityKind::CycleStart:
      return "cycle start";
    case ActivityKind::CycleFinish:
      return "cycle finish";
    case ActivityKind::Probe:
      return "probed dimension";
    case ActivityKind::ToolChangeStop:
      return "tool change stop";
    case ActivityKind::ToolChangeResume:
      return "tool change resume";
  }
  return "?";
}

const char* name_of(ProgramOrigin o) {
  switch (o) {
    case ProgramOrigin::Upload:
      return "upload";
    case ProgramOrigin::ManualReceive:
      return "manual receive";
    case ProgramOrigin::Restore:
      return "restore";
  }
  return "?";
}

void StationEventList::add(StationEvents* listener) {
  if (listener && std::find(listeners_.begin(), listeners_.end(), listener) == listeners_.end())
    listeners_.push_back(listener);
}

void StationEventList::remove(StationEvents* listener) {
  std::erase(listeners_, listener);
}

template <class Call>
void StationEventList::each(const Call& call) {
  // A copy: a listener may leave the list while it is being called.
  const std::vector<StationEvents*> now = listeners_;
  for (StationEvents* l : now) {
    std::string failure;
    try {
      call(*l);
      continue;
    } catch (const std::exception& e) {
      failure = e.what();
    } catch (...) {
      failure = "unknown error";
    }
    remove(l);
    if (on_failure) on_failure(failure);
  }
}

void StationEventList::station_started(const LocalTime& at) {
  each([&](StationEvents& l) { l.station_started(at); });
}
void StationEventList::station_stopping(const LocalTime& at) {
  each([&](StationEvents& l) { l.station_stopping(at); });
}
void StationEventList::transfer_began(const TransferStart& t) {
  each([&](StationEvents& l) { l.transfer_began(t); });
}
void StationEventList::transfer_progressed(int port, double characters) {
  each([&](StationEvents& l) { l.transfer_progressed(port, characters); });
}
void StationEventList::transfer_ended(const TransferEnd& t) {
  each([&](StationEvents& l) { l.transfer_ended(t); });
}
void StationEventList::program_replacing(const ProgramChange& c) {
  each([&](StationEvents& l) { l.program_replacing(c); });
}
void StationEventList::program_replaced(const ProgramChange& c, bool replaced) {
  each([&](StationEvents& l) { l.program_replaced(c, replaced); });
}
void StationEventList::upload_discarded(const ProgramChange& c) {
  each([&](StationEvents& l) { l.upload_discarded(c); });
}
void StationEventList::activity_recorded(const ActivityRecord& a) {
  each([&](StationEvents& l) { l.activity_recorded(a); });
}
void StationEventList::line_state_changed(LineState state, const std::string& detail,
                                          const LocalTime& at) {
  each([&](StationEvents& l) { l.line_state_changed(state, detail, at); });
}

}  // namespace shoplink
