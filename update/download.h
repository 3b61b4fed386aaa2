// The download facility of UpDate: one task at a time, fetched over libcurl multi on a thread of
// its own, in up to five byte ranges at once when the server supports ranges and the file is
// large enough to be worth splitting.
//
// The task's address is a link record (update/share_link.h) taken whole: the part before the
// first "|" is the address fetched, and its size and md5 fields are what the download must match.
// The bytes go to a temporary file beside the target (the target's name followed by ".part"),
// written at their offsets as they arrive and never held in memory. It becomes the target only
// once every byte of the expected size has arrived and the size and md5 of the record (where they
// are given: a size of decimal digits, an md5 of 32 hexadecimal digits) match; the md5 is read
// along while the download runs. A failed, cut or over-long download, or an error page, never
// becomes the target, and the temporary file is removed.
//
// The first request asks for "bytes=0-". A 206 answer with that Content-Range gives the total; a
// file of 1 MiB or more is then fetched in pieces, at most `connections` at once, each of which
// must come back as 206 with exactly the Content-Range asked for. A 200 answer (a server without
// ranges) is read as one stream. No Accept-Encoding is sent, redirects are followed.
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
  long connectTimeoutMs = 5000;     // per connection, libcurl's connect time-out
  // Kept for the settings record; libcurl has no send time-out. A request is one small head that
  // the socket takes at once, and a connection that makes no progress, sending or receiving, is
  // caught by the receive time-out.
  long sendTimeoutMs = 5001;
  long receiveTimeoutMs = 10000;    // a connection that receives nothing for this long fails
  long stopWaitMs = 1000;           // how long Stop() waits for the connections to end
  // The largest write into the file. libcurl's receive buffer is larger (128 KiB), since a buffer
  // of 10 KiB slows a fast stream down.
  long receiveBlock = 10240;
  // Called on the facility's task thread, one event at a time. The result matters for
  // kEventTargetExists only: 0 = download afresh (the file that is there is replaced only by a
  // complete new download), any other value = give the task up (kEventTaskEnded follows at once
  // with GivenUp, the file untouched). Without a handler the task goes on as after 0.
  std::function<int(const DownloadEvent&)> eventHandler;
};

class DownloadFacility {
 public:
  DownloadFacility();
  // Stops a running task and joins its thread; the handler is not called again. (A handler that
  // is blocked waiting for the destroying thread would keep it waiting.)
  ~DownloadFacility();
  DownloadFacility(const DownloadFacility&) = delete;
  DownloadFacility& operator=(const DownloadFacility&) = delete;

  // Starts the task on the facility's thread and returns at once. False (and nothing started)
  // while another task runs.
  bool AddTask(const DownloadSettings& settings);
  // Bytes of the running (or last) task written so far; 0 when no task has run.
  std::int64_t DoneLength() const;
  bool Running() const;
  // Ends a running task as failed (kEventTaskEnded still follows), waiting at most the stop wait
  // for it to end. From the task's own handler it only asks for the end.
  void Stop();
  // Waits until no task runs, kEventTaskEnded delivered (tests). From the handler it returns.
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
