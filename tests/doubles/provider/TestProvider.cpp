// A provider whose answers the test scripts and whose calls it reads back;
// TestProviderControl.h describes the control exports.
#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "providers/ProviderException.h"
#include "tests/doubles/provider/TestProviderControl.h"
#include "contract/ISnapshotProvider.h"

namespace {

struct ScriptedFailure {
  int32_t code;
  std::wstring text;
};

// Everything a test scripts or reads, shared by all provider objects. The
// plug-in may call from several threads, so every access holds `lock`.
struct State {
  std::mutex lock;
  std::wstring snapshotRoot;
  std::map<std::wstring, ScriptedFailure> failures;
  std::wstring record;
  int32_t liveProviders = 0;

  void Clear() {
    snapshotRoot.clear();
    failures.clear();
    record.clear();
  }
};

State& SharedState() {
  static State state;
  return state;
}

// Runs `action` on the shared state while holding its lock.
template <typename Action>
auto WithState(Action action) -> decltype(action(std::declval<State&>())) {
  State& state = SharedState();
  std::lock_guard<std::mutex> guard(state.lock);
  return action(state);
}

const wchar_t* Flag(bool value) { return value ? L"true" : L"false"; }

void Record(const std::wstring& call) {
  WithState([&](State& state) { state.record += call + L"\n"; });
}

class TestProvider final : public ISnapshotProvider {
public:
  TestProvider() {
    WithState([](State& state) { ++state.liveProviders; });
  }

  // Introspection and tuning: the plug-in never calls these, so they answer
  // constants and are left out of the record.
  const wchar_t* GetProviderName() override { return L"Scripted test provider"; }
  uint32_t GetProviderVersion() override { return 1; }
  bool IsVolumeSupported(const wchar_t* volume) override { return true; }
  uint32_t GetSnapshotCount() override { return 0; }
  bool GetSnapshotVolume(uint32_t index, std::wstring& volume) override { return false; }
  bool GetSnapshotDevice(uint32_t index, std::wstring& device) override { return false; }
  bool GetSnapshotId(uint32_t index, std::wstring& id) override { return false; }
  bool GetSnapshotSetId(std::wstring& id) override { return false; }
  void SetTimeout(uint32_t milliseconds) override {}
  uint32_t GetTimeout() override { return 0; }
  void SetRetryCount(uint32_t attempts) override {}
  uint32_t GetRetryCount() override { return 0; }
  void SetIncludeWriters(bool include) override {}
  uint32_t GetWriterCount() override { return 0; }
  bool GetWriterName(uint32_t index, std::wstring& name) override { return false; }
  int32_t GetLastHResult() override { return 0; }
  bool IsSnapshotSetInProgress() override { return false; }
  void AbortSnapshotSet() override {}

  void Destroy(int flags) override {
    Record(L"Destroy " + std::to_wstring(flags));
    WithState([](State& state) { --state.liveProviders; });
    delete this;
  }

  int32_t Initialize() override {
    Record(L"Initialize");
    return 0;
  }

  // The provider's contract: a set is started before volumes are added and
  // made once; the snapshots of a made set are released before the next set
  // starts; a set that a refusal or failure left unmade ends by itself.
  void StartSnapshotSet() override {
    Record(L"StartSnapshotSet");
    if (set_ == Set::Made) throw new Providers::ProviderException(L"the snapshots were not released", kBadState);
    set_ = Set::None;
    RunScript(L"StartSnapshotSet");
    set_ = Set::Started;
  }

  bool AddVolume(const wchar_t* volume) override {
    Record(std::wstring(L"AddVolume ") + volume);
    ExpectStarted();
    RunScript(L"AddVolume");
    return true;
  }

  // Unscripted, a volume's root is the volume itself without its trailing
  // backslash: the live files.
  void CreateSnapshots(const std::list<std::wstring>& volumes,
                       std::list<std::wstring>& snapshotRoots) override {
    std::wstring call = L"CreateSnapshots ";
    for (const std::wstring& volume : volumes) {
      call += (&volume == &volumes.front() ? L"" : L"|") + volume;
    }
    Record(call);
    ExpectStarted();
    RunScript(L"CreateSnapshots");
    const std::wstring root = WithState([](State& state) { return state.snapshotRoot; });
    snapshotRoots.clear();
    for (std::wstring live : volumes) {
      if (!live.empty() && live.back() == L'\\') live.pop_back();
      snapshotRoots.push_back(root.empty() ? live : root);
    }
    set_ = Set::Made;
  }

  // The snapshots are gone even when it throws, as the interface allows.
  void ReleaseSnapshots(bool completed) override {
    Record(std::wstring(L"ReleaseSnapshots ") + Flag(completed));
    set_ = Set::None;
    RunScript(L"ReleaseSnapshots");
  }

  void SetMessageCallback(const SnapshotMessageCallback& callback) override {
    Record(callback ? L"SetMessageCallback" : L"SetMessageCallback empty");
    callback_ = callback;
  }

private:
  static constexpr int32_t kBadState = static_cast<int32_t>(0x80042301);
  enum class Set { None, Started, Made };

  ~TestProvider() = default;

  void ExpectStarted() {
    if (set_ != Set::Started) throw new Providers::ProviderException(L"no snapshot set was started", kBadState);
  }

  // A scripted failure ends the set, as the provider's own failures do.
  void RunScript(const wchar_t* operation) {
    ScriptedFailure failure{0, std::wstring()};
    const bool scripted = WithState([&](State& state) {
      const auto found = state.failures.find(operation);
      if (found == state.failures.end()) return false;
      failure = found->second;
      return true;
    });
    if (!scripted) return;
    set_ = Set::None;
    throw new Providers::ProviderException(failure.text.c_str(), failure.code);
  }

  Set set_ = Set::None;
  SnapshotMessageCallback callback_;
};

} // namespace

#define TEST_PROVIDER_EXPORT extern "C" __declspec(dllexport)

TEST_PROVIDER_EXPORT ISnapshotProvider* GetInterface() {
  Record(L"GetInterface");
  return new TestProvider();
}

TEST_PROVIDER_EXPORT void TestProviderReset() {
  WithState([](State& state) { state.Clear(); });
}

TEST_PROVIDER_EXPORT void TestProviderSetSnapshotRoot(const wchar_t* root) {
  WithState([&](State& state) { state.snapshotRoot = root; });
}

TEST_PROVIDER_EXPORT void TestProviderSetThrow(const wchar_t* operation, int32_t code,
                                               const wchar_t* text) {
  WithState([&](State& state) {
    if (text == nullptr) {
      state.failures.erase(operation);
    } else {
      state.failures[operation] = ScriptedFailure{code, text};
    }
  });
}

TEST_PROVIDER_EXPORT size_t TestProviderCalls(wchar_t* buffer, size_t capacity) {
  return WithState([&](State& state) {
    if (buffer != nullptr && capacity > 0) {
      const size_t copied = state.record.copy(buffer, capacity - 1);
      buffer[copied] = L'\0';
    }
    return state.record.size();
  });
}

TEST_PROVIDER_EXPORT int32_t TestProviderLiveProviders() {
  return WithState([](State& state) { return state.liveProviders; });
}
