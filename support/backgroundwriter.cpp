#include "support/backgroundwriter.h"

#include <cerrno>

#include "support/platform.h"

namespace veloran {

TBackgroundWriter::TBackgroundWriter(int fd, bool startWriteback, IFileCalls& calls, TExecutor* executor)
    : Fd(fd), StartWriteback(startWriteback), Calls(calls), Task(executor) {
  Background = Task.Start(1, [this] { Run(); }) == 1;
}

TBackgroundWriter::~TBackgroundWriter() {
  {
    std::lock_guard lock(Mutex);
    Stop = true;
  }
  Changed.notify_all();
  Task.Wait();
}

int TBackgroundWriter::Wait() {
  std::unique_lock lock(Mutex);
  Changed.wait(lock, [this] { return Data == nullptr; });
  return Error;
}

void TBackgroundWriter::Start(const char* data, size_t count) {
  if (!Background) {
    if (Error == 0) Error = WriteAll(data, count);
    return;
  }
  {
    std::lock_guard lock(Mutex);
    Data = data;
    Count = count;
  }
  Changed.notify_all();
}

void TBackgroundWriter::Run() {
  std::unique_lock lock(Mutex);
  for (;;) {
    Changed.wait(lock, [this] { return Data != nullptr || Stop; });
    if (Data == nullptr) return;
    const char* data = Data;
    const size_t count = Count;
    lock.unlock();
    const int error = Error != 0 ? Error : WriteAll(data, count);
    lock.lock();
    Error = error;
    Data = nullptr;
    Changed.notify_all();
  }
}

int TBackgroundWriter::WriteAll(const char* data, size_t count) {
  for (size_t done = 0; done < count;) {
    const ssize_t n = Calls.Write(Fd, data + done, count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<size_t>(n);
    Offset += n;
  }
  // Handed to the disk a megabyte at a time: smaller ranges make more,
  // smaller requests, larger ones start the disk later.
  if (StartWriteback && Offset - Started >= kWritebackStep) {
    PlatformStartWriteback(Fd, Started, Offset - Started);
    Started = Offset;
  }
  return 0;
}

}  // namespace veloran
