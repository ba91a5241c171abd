// A provider whose answers the test scripts and whose calls it reads back;
// TestProviderControl.h describes the control exports.
#include <cwctype>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "providers/ProviderException.h"
#include "tests/doubles/provider/TestProviderControl.h"
#include "vss/ISnapshotProvider.h"

namespace {

struct ScriptedFailure {
  int32_t code;
  std::wstring text;
};

// Volumes are keyed upper-cased: C:\ and c:\ name one volume.
std::wstring VolumeKey(const wchar_t* volume) {
  std::wstring key(volume);
  for (wchar_t& c : key) c = static_cast<wchar_t>(std::towupper(c));
  return key;
}

// Everything a test scripts or reads, shared by all provider objects. The
// plug-in may call from several threads, so every access holds `lock`.
struct State {
  std::mutex lock;
  int32_t initializeResult = 0;
  bool defaultAddVolumeResult = true;
  std::map<std::wstring, bool> addVolumeResults;
  std::wstring defaultRoot;
  std::map<std::wstring, std::wstring> roots;
  std::map<std::wstring, ScriptedFailure> failures;
  std::multimap<std::wstring, std::wstring> messages;
  std::wstring record;
  int32_t liveProviders = 0;

  void Clear() {
    initializeResult = 0;
    defaultAddVolumeResult = true;
    addVolumeResults.clear();
    defaultRoot.clear();
    roots.clear();
    failures.clear();
    messages.clear();
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

  const wchar_t* GetProviderName() override {
    Record(L"GetProviderName");
    return L"Scripted test provider";
  }

  uint32_t GetProviderVersion() override {
    Record(L"GetProviderVersion");
    return 1;
  }

  bool IsVolumeSupported(const wchar_t* volume) override {
    Record(std::wstring(L"IsVolumeSupported ") + volume);
    return ScriptedAddVolumeResult(volume);
  }

  uint32_t GetSnapshotCount() override {
    Record(L"GetSnapshotCount");
    return static_cast<uint32_t>(snapshots_.size());
  }

  bool GetSnapshotVolume(uint32_t index, std::wstring& volume) override {
    Record(L"GetSnapshotVolume " + std::to_wstring(index));
    if (index >= snapshots_.size()) return false;
    volume = snapshots_[index].first;
    return true;
  }

  bool GetSnapshotDevice(uint32_t index, std::wstring& device) override {
    Record(L"GetSnapshotDevice " + std::to_wstring(index));
    if (index >= snapshots_.size()) return false;
    device = snapshots_[index].second;
    return true;
  }

  bool GetSnapshotId(uint32_t index, std::wstring& id) override {
    Record(L"GetSnapshotId " + std::to_wstring(index));
    if (index >= snapshots_.size()) return false;
    id = L"test-snapshot-" + std::to_wstring(index);
    return true;
  }

  bool GetSnapshotSetId(std::wstring& id) override {
    Record(L"GetSnapshotSetId");
    if (!setInProgress_) return false;
    id = L"test-snapshot-set";
    return true;
  }

  void SetTimeout(uint32_t milliseconds) override {
    Record(L"SetTimeout " + std::to_wstring(milliseconds));
    timeoutMs_ = milliseconds;
  }

  uint32_t GetTimeout() override {
    Record(L"GetTimeout");
    return timeoutMs_;
  }

  void SetRetryCount(uint32_t attempts) override {
    Record(L"SetRetryCount " + std::to_wstring(attempts));
    retryCount_ = attempts;
  }

  uint32_t GetRetryCount() override {
    Record(L"GetRetryCount");
    return retryCount_;
  }

  void SetIncludeWriters(bool include) override {
    Record(std::wstring(L"SetIncludeWriters ") + Flag(include));
  }

  uint32_t GetWriterCount() override {
    Record(L"GetWriterCount");
    return 0;
  }

  bool GetWriterName(uint32_t index, std::wstring& name) override {
    Record(L"GetWriterName " + std::to_wstring(index));
    return false;
  }

  int32_t GetLastHResult() override {
    Record(L"GetLastHResult");
    return lastHr_;
  }

  bool IsSnapshotSetInProgress() override {
    Record(L"IsSnapshotSetInProgress");
    return setInProgress_;
  }

  void AbortSnapshotSet() override {
    Record(L"AbortSnapshotSet");
    EndSnapshotSet();
  }

  void Destroy(int flags) override {
    Record(L"Destroy " + std::to_wstring(flags));
    WithState([](State& state) { --state.liveProviders; });
    delete this;
  }

  int32_t Initialize() override {
    Record(L"Initialize");
    SendScriptedMessages(L"Initialize");
    lastHr_ = WithState([](State& state) { return state.initializeResult; });
    return lastHr_;
  }

  void StartSnapshotSet() override {
    Record(L"StartSnapshotSet");
    RunScript(L"StartSnapshotSet");
    snapshots_.clear();
    setInProgress_ = true;
  }

  bool AddVolume(const wchar_t* volume) override {
    Record(std::wstring(L"AddVolume ") + volume);
    RunScript(L"AddVolume");
    return ScriptedAddVolumeResult(volume);
  }

  void CreateSnapshots(const std::list<std::wstring>& volumes,
                       std::list<std::wstring>& snapshotRoots) override {
    std::wstring call = L"CreateSnapshots ";
    for (const std::wstring& volume : volumes) {
      call += (&volume == &volumes.front() ? L"" : L"|") + volume;
    }
    Record(call);
    RunScript(L"CreateSnapshots");
    snapshotRoots.clear();
    for (const std::wstring& volume : volumes) {
      snapshotRoots.push_back(ScriptedRoot(volume));
      snapshots_.emplace_back(volume, snapshotRoots.back());
    }
  }

  void ReleaseSnapshots(bool completed) override {
    Record(std::wstring(L"ReleaseSnapshots ") + Flag(completed));
    EndSnapshotSet();
    RunScript(L"ReleaseSnapshots");
  }

  void SetMessageCallback(const SnapshotMessageCallback& callback) override {
    Record(callback ? L"SetMessageCallback" : L"SetMessageCallback empty");
    callback_ = callback;
  }

private:
  ~TestProvider() = default;

  void EndSnapshotSet() {
    snapshots_.clear();
    setInProgress_ = false;
  }

  static bool ScriptedAddVolumeResult(const wchar_t* volume) {
    return WithState([&](State& state) {
      const auto found = state.addVolumeResults.find(VolumeKey(volume));
      return found != state.addVolumeResults.end() ? found->second : state.defaultAddVolumeResult;
    });
  }

  static std::wstring ScriptedRoot(const std::wstring& volume) {
    return WithState([&](State& state) {
      const auto found = state.roots.find(VolumeKey(volume.c_str()));
      if (found != state.roots.end()) return found->second;
      if (!state.defaultRoot.empty()) return state.defaultRoot;
      std::wstring live = volume;
      if (!live.empty() && live.back() == L'\\') live.pop_back();
      return live;
    });
  }

  // Messages go out before the scripted failure, as a real provider reports
  // progress before the step that fails.
  void RunScript(const wchar_t* operation) {
    SendScriptedMessages(operation);
    ScriptedFailure failure{0, std::wstring()};
    const bool scripted = WithState([&](State& state) {
      const auto found = state.failures.find(operation);
      if (found == state.failures.end()) return false;
      failure = found->second;
      return true;
    });
    if (!scripted) return;
    lastHr_ = failure.code;
    throw new Providers::ProviderException(failure.text.c_str(), failure.code);
  }

  // The callback runs outside the lock: it may call back into the double.
  void SendScriptedMessages(const wchar_t* operation) {
    std::vector<std::wstring> texts;
    WithState([&](State& state) {
      const auto range = state.messages.equal_range(operation);
      for (auto it = range.first; it != range.second; ++it) texts.push_back(it->second);
    });
    if (!callback_) return;
    for (const std::wstring& text : texts) callback_(text.c_str());
  }

  SnapshotMessageCallback callback_;
  uint32_t timeoutMs_ = 0;
  uint32_t retryCount_ = 0;
  int32_t lastHr_ = 0;
  bool setInProgress_ = false;
  std::vector<std::pair<std::wstring, std::wstring>> snapshots_;
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

TEST_PROVIDER_EXPORT void TestProviderSetInitializeResult(int32_t result) {
  WithState([&](State& state) { state.initializeResult = result; });
}

TEST_PROVIDER_EXPORT void TestProviderSetAddVolumeResult(const wchar_t* volume, int32_t added) {
  WithState([&](State& state) {
    if (volume == nullptr) {
      state.defaultAddVolumeResult = added != 0;
    } else {
      state.addVolumeResults[VolumeKey(volume)] = added != 0;
    }
  });
}

TEST_PROVIDER_EXPORT void TestProviderSetSnapshotRoot(const wchar_t* volume, const wchar_t* root) {
  WithState([&](State& state) {
    if (volume == nullptr) {
      state.defaultRoot = root;
    } else {
      state.roots[VolumeKey(volume)] = root;
    }
  });
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

TEST_PROVIDER_EXPORT void TestProviderAddMessage(const wchar_t* operation, const wchar_t* text) {
  WithState([&](State& state) { state.messages.emplace(operation, text); });
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
