// The download facility of UpDate: one task at a time, fetched over libcurl multi on a thread of
// its own, in up to five byte ranges at once when the server supports ranges and the file is
// large enough to be worth splitting.
//
// The task's address is a link record (update/share_link.h) taken whole: the part before the
// first "|" is the address fetched, and its size and md5 fields are what the download must match.
// The bytes go to a temporary file beside the target, which becomes the target only once every
// byte of the expected size has arrived and the size and md5 of the record (where they are given)
// match. A failed, cut or over-long download, or an error page, never becomes the target.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "common/text.h"

namespace update {

using common::Text;

// Event codes reported to the task's event handler.
constexpr int kEventTotalSize = 3;    // value: the total size in bytes
constexpr int kEventTargetExists = 18;  // the target file exists when the task begins
constexpr int kEventTaskEnded = 4;    // value: the bytes done; delivered once, whatever the outcome

// How a task ended (reported with kEventTaskEnded and by LastOutcome()).
enum class DownloadResult {
  Completed,     // every byte of the expected size arrived, size and md5 (when given) match;
                 // the target file now holds the download
  GivenUp,       // the handler answered 1 to kEventTargetExists; the target was not touched
  Failed,        // no answer, an error status, a cut or stalled connection, too few or too many
                 // bytes, a size or md5 that does not match; the target was not touched
};

struct DownloadOutcome {
  DownloadResult result = DownloadResult::Failed;
  std::int64_t bytesDone = 0;
  std::string reason;  // for tests and diagnostics; never shown to the user
};

// One event as the facility reports it. `code` and `value` are what UpDate reads.
struct DownloadEvent {
  int code = 0;
  std::int64_t value = 0;
  const DownloadOutcome* outcome = nullptr;  // set for kEventTaskEnded only
};

struct DownloadSettings {
  int taskKind = 4096;              // download
  Text address;                     // the link record, whole
  Text target;                      // program path text of the target file
  int connections = 5;              // at most this many byte ranges at once
  long connectTimeoutMs = 5000;
  long sendTimeoutMs = 5001;
  long receiveTimeoutMs = 10000;    // a connection that receives nothing for this long fails
  long stopWaitMs = 1000;           // how long Stop() waits for the connections to end
  long receiveBlock = 10240;        // bytes per read
  // Called on the facility's threads. The result matters for kEventTargetExists only:
  // 0 = download afresh into the target (replacing the file that is there), 1 = give the task up.
  std::function<int(const DownloadEvent&)> eventHandler;
};

class DownloadFacility {
 public:
  DownloadFacility();
  ~DownloadFacility();  // stops a running task (without reporting) and joins its thread
  DownloadFacility(const DownloadFacility&) = delete;
  DownloadFacility& operator=(const DownloadFacility&) = delete;

  // Starts the task on the facility's thread and returns at once. False (and nothing started)
  // while another task runs.
  bool AddTask(const DownloadSettings& settings);
  // Bytes of the running (or last) task written so far; 0 when no task has run.
  std::int64_t DoneLength() const;
  bool Running() const;
  // Ends a running task as failed, waiting at most the stop wait for its connections.
  void Stop();
  // Waits until no task runs (tests).
  void Wait();
  DownloadOutcome LastOutcome() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The md5 of a file as 32 lower-case hexadecimal digits; empty when it cannot be read.
std::string FileMd5(const std::string& nativePath);

// True for 32 hexadecimal digits (either case).
bool IsMd5Text(const Text& text);

}  // namespace update
