// The one thread on which a provider makes its COM and shadow-copy calls.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <utility>

#include "vmlib/WindowsApi.h"
#include <objbase.h>

namespace Providers {

// Joins the multithreaded apartment when it starts and leaves it when it ends,
// so the host's threads keep whatever apartment they are in (a single-threaded
// one included, which would otherwise have to pump messages while the service
// calls back), and the provider may be released from any thread. Run() hands
// one call over and waits for it; what the call throws is thrown again on the
// calling thread.
class ComThread {
public:
  ComThread() : thread_([this] { Serve(); }) {}
  ~ComThread() {
    {
      std::lock_guard<std::mutex> guard(lock_);
      stopping_ = true;
    }
    wake_.notify_one();
    thread_.join();
  }
  ComThread(const ComThread&) = delete;
  ComThread& operator=(const ComThread&) = delete;

  template <typename Call>
  auto Run(Call call) -> decltype(call()) {
    if (std::this_thread::get_id() == thread_.get_id()) return call();
    std::packaged_task<decltype(call())()> task(std::move(call));
    auto result = task.get_future();
    {
      std::lock_guard<std::mutex> guard(lock_);
      calls_.push_back([&task] { task(); });
    }
    wake_.notify_one();
    return result.get();
  }

  // What joining the apartment gave; only meaningful inside Run().
  HRESULT Apartment() const { return apartment_; }

private:
  void Serve() {
    apartment_ = ::CoInitializeEx(/*reserved=*/nullptr, COINIT_MULTITHREADED);
    for (;;) {
      std::function<void()> call;
      {
        std::unique_lock<std::mutex> guard(lock_);
        wake_.wait(guard, [this] { return stopping_ || !calls_.empty(); });
        if (calls_.empty()) break;
        call = std::move(calls_.front());
        calls_.pop_front();
      }
      call();
    }
    if (SUCCEEDED(apartment_)) ::CoUninitialize();
  }

  std::mutex lock_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> calls_;
  bool stopping_ = false;
  HRESULT apartment_ = E_PENDING;
  std::thread thread_; // last: it starts serving as soon as it exists
};

} // namespace Providers
