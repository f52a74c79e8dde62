//===- threads.cpp - Work in order on several threads, and progress, POSIX --===//
//
// Only POSIX code here. Items are produced on a pool of threads (as many as
// the machine runs at once, in the shape it suits) and handed to the
// caller's thread in order; producers never run more than the shape's held
// items ahead of the consumer, which bounds how many are held at once. Each
// thread tells produce its number, so that the caller can keep memory per
// thread.
//
//===----------------------------------------------------------------------===//
#include <unistd.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>
#include <vector>

#include "../halves.h"
#include "text/code_page.h"
#include "platform/platform.h"

namespace qd::platform {

OrderedShape OrderedWorkShape(std::size_t mostWorkers) {
  const std::size_t threads =
      std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), std::max<std::size_t>(mostWorkers, 1));
  if (threads == 1) return {};
  return {.workers = threads, .held = 2 * threads + 2};
}

void RunOrdered(const OrderedShape& shape, std::size_t count,
                const std::function<void(std::size_t, std::size_t)>& produce,
                const std::function<bool(std::size_t)>& consume, const std::function<void(std::size_t)>& prepare) {
  if (shape.workers <= 1 || shape.held <= 1 || count < 2) return RunOrderedHere(count, produce, consume, prepare);

  const std::size_t window = shape.held;  // items started and not yet consumed
  std::mutex lock;
  std::condition_variable changed;
  std::size_t next = 0;      // the next item to start
  std::size_t consumed = 0;  // items consumed so far
  std::vector<bool> finished(count, false);
  bool stop = false;

  const auto work = [&](std::size_t worker) {
    std::unique_lock held(lock);
    for (;;) {
      changed.wait(held, [&] { return stop || next == count || next < consumed + window; });
      if (stop || next == count) return;
      const std::size_t i = next++;
      // Under the lock, so the prepares run one at a time, in order.
      if (prepare) prepare(i);
      held.unlock();
      produce(i, worker);
      held.lock();
      finished[i] = true;
      changed.notify_all();
    }
  };
  std::vector<std::thread> pool;
  for (std::size_t t = 0; t < std::min(shape.workers, count); ++t) pool.emplace_back(work, t);

  for (std::size_t i = 0; i < count; ++i) {
    {
      std::unique_lock held(lock);
      changed.wait(held, [&] { return finished[i]; });
    }
    const bool more = consume(i);
    {
      const std::lock_guard held(lock);
      consumed = i + 1;
      stop = !more;
    }
    changed.notify_all();
    if (!more) break;
  }
  {
    const std::lock_guard held(lock);
    stop = true;
  }
  changed.notify_all();
  for (std::thread& thread : pool) thread.join();
}

bool ProgressVisible() { return ::isatty(STDERR_FILENO) == 1; }

void ShowProgress(std::string_view line) {
  if (!ProgressVisible()) return;
  // Back to the line's start, the text, and the rest of the old line cleared.
  std::cerr << '\r' << line << "\x1b[K" << std::flush;
}

bool HasConsole() { return true; }

void WriteConsoleLine(std::string_view line, ConsoleStream stream) {
  if (ProgressVisible()) ShowProgress("");
  (stream == ConsoleStream::Output ? std::cout : std::cerr) << text::Utf8FromAnsi(line) << '\n' << std::flush;
}

}  // namespace qd::platform
