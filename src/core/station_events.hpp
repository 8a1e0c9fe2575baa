#pragma once
// What the station reports outward: transfers, replaced programs, machine activity, the host
// line and the station's own start and stop. The protocol code calls `Station::events` and
// knows nothing of who listens; the journal, the window's port tiles, a status page or a plant
// publisher subscribe to it. Every call comes from the station's one thread and returns at
// once: a listener that needs time or a thread of its own takes it there, never here.
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "base/clock.hpp"

namespace shoplink {

enum class TransferKind {
  Request,        // a machine asked for a program
  Listing,        // a machine asked for a directory listing
  Reply,          // an activity report sent back to a machine
  ManualSend,     // the operator sent a file
  Upload,         // a machine stored a program
  ManualReceive,  // the operator received a file
  Binary,         // a machine asked for a program on a binary port
};

enum class TransferResult {
  Transmitted,
  Received,
  NotFound,
  Stopped,           // the Stop button, or the station stopped under it
  HandshakeTimeout,  // the reason says which handshake
  LineLost,          // the way to the machine broke during the transfer
  Discarded,         // an upload that did not become the program (the reason says why)
};

enum class LineState { Opened, Lost, Reconnected, Dead, Back };

enum class ActivityKind { CycleStart, CycleFinish, Probe, ToolChangeStop, ToolChangeResume };

// How a program came to be replaced.
enum class ProgramOrigin { Upload, ManualReceive, Restore };

const char* name_of(TransferKind k);
const char* name_of(TransferResult r);
const char* name_of(LineState l);
const char* name_of(ActivityKind a);
const char* name_of(ProgramOrigin o);

struct TransferStart {
  int port = 0;
  std::string machine;
  std::string program;  // the host path of the program (or listing, or report)
  TransferKind kind = TransferKind::Request;
  LocalTime started;
};

struct TransferEnd {
  TransferStart start;
  LocalTime ended;
  double characters = 0;  // characters of the program file sent, or of the upload stored
  TransferResult result = TransferResult::Transmitted;
  std::string reason;  // why it failed, or where a discarded upload went
};

// A program about to be replaced (or just replaced): `incoming` is the complete new content
// on disk, `previous` the file that holds the old content now (the program itself, or a
// backup it was moved to), `program` the path the new content goes to.
struct ProgramChange {
  int port = 0;
  std::string machine;
  std::filesystem::path program, incoming, previous;
  ProgramOrigin origin = ProgramOrigin::Upload;
  LocalTime time;
};

struct ActivityRecord {
  int port = 0;
  std::string machine;
  ActivityKind kind = ActivityKind::CycleStart;
  std::string text;  // the probed dimension; empty for the other events
  LocalTime time;
};

class StationEvents {
 public:
  virtual ~StationEvents() = default;
  virtual void station_started(const LocalTime& /*at*/) {}
  virtual void station_stopping(const LocalTime& /*at*/) {}
  virtual void transfer_began(const TransferStart& /*t*/) {}
  virtual void transfer_progressed(int /*port*/, double /*characters*/) {}
  virtual void transfer_ended(const TransferEnd& /*t*/) {}
  // Called with the new content complete and before it takes the program's place: whatever
  // must survive the replace is kept now. The replace goes ahead whatever a listener does.
  virtual void program_replacing(const ProgramChange& /*c*/) {}
  // After the replace: `replaced` is false when it failed and the old program stayed.
  virtual void program_replaced(const ProgramChange& /*c*/, bool /*replaced*/) {}
  // An upload that will not become the program; `incoming` still holds what came.
  virtual void upload_discarded(const ProgramChange& /*c*/) {}
  virtual void activity_recorded(const ActivityRecord& /*a*/) {}
  virtual void line_state_changed(LineState /*state*/, const std::string& /*detail*/,
                                  const LocalTime& /*at*/) {}
};

// The station's listeners, called in the order they were added. A listener that throws is
// taken out of the list and reported once through `on_failure`; the others and the station
// go on.
class StationEventList final : public StationEvents {
 public:
  void add(StationEvents* listener);
  void remove(StationEvents* listener);
  bool empty() const { return listeners_.empty(); }
  std::function<void(const std::string& what)> on_failure;

  void station_started(const LocalTime& at) override;
  void station_stopping(const LocalTime& at) override;
  void transfer_began(const TransferStart& t) override;
  void transfer_progressed(int port, double characters) override;
  void transfer_ended(const TransferEnd& t) override;
  void program_replacing(const ProgramChange& c) override;
  void program_replaced(const ProgramChange& c, bool replaced) override;
  void upload_discarded(const ProgramChange& c) override;
  void activity_recorded(const ActivityRecord& a) override;
  void line_state_changed(LineState state, const std::string& detail, const LocalTime& at) override;

 private:
  template <class Call>
  void each(const Call& call);
  std::vector<StationEvents*> listeners_;
};

}  // namespace shoplink
