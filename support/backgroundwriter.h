// The file sink's writer: one buffer at a time written on a free thread of
// the executor, so that the kernel's copy and block allocation overlap the
// formatting of the next buffer; where no thread is free, by the caller.
// With `startWriteback`, what is written is handed to the disk as it comes
// (sync_file_range), so that the final fsync waits for the tail only.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>

#include "support/filesink.h"
#include "support/threads.h"

namespace veloran {

class TBackgroundWriter {
 public:
  TBackgroundWriter(int fd, bool startWriteback, IFileCalls& calls, TExecutor* executor);
  ~TBackgroundWriter();
  TBackgroundWriter(const TBackgroundWriter&) = delete;
  TBackgroundWriter& operator=(const TBackgroundWriter&) = delete;

  // Waits until the buffer in flight is written; the errno of a failed
  // write, 0 when all went well.
  int Wait();
  // Starts writing `count` bytes at `data`, which must stay untouched until
  // Wait returns. Call only after Wait.
  void Start(const char* data, size_t count);

 private:
  void Run();
  int WriteAll(const char* data, size_t count);

  const int Fd;
  const bool StartWriteback;
  IFileCalls& Calls;
  static constexpr off_t kWritebackStep = 1 << 20;
  off_t Offset = 0;   // bytes written so far
  off_t Started = 0;  // bytes whose writeback has been started
  std::mutex Mutex;
  std::condition_variable Changed;
  const char* Data = nullptr;  // the buffer in flight, if any
  size_t Count = 0;
  int Error = 0;
  bool Stop = false;
  bool Background = false;
  TTaskGroup Task;  // the writing task, started once the rest is set
};

}  // namespace veloran
