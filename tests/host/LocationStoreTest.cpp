// Network locations and the settings the plug-in asks the host for. Under Wine
// no share can be connected, so the end-to-end suite never sees what the host
// tells the plug-in about them.
#include <string>

#include <gtest/gtest.h>

#include "host/Commands.h"
#include "host/HostError.h"
#include "host/LocationStore.h"
#include "host/PluginHost.h"
#include "tests/host/CapturedOutput.h"
#include "tests/support/TempFolder.h"

using host::HostError;
using host::LocationSettings;
using host::LocationStore;
using host::UsageError;

namespace {

const std::wstring kPassword = L"S3cret-\u00e9t\u00e9";

class Locations : public ::testing::Test {
protected:
  test::TempFolder folder;
  // A level below the scratch folder, so that Add must create it.
  LocationStore store{folder / L"Plugins"};
};

} // namespace

TEST_F(Locations, PasswordIsKeptOnlyThroughDpapi) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  const std::string bytes = test::ReadFileBytes(store.Folder() + L"\\office.loc");
  const std::string utf16(reinterpret_cast<const char*>(kPassword.data()), kPassword.size() * sizeof(wchar_t));
  EXPECT_EQ(bytes.find("S3cret"), std::string::npos);
  EXPECT_EQ(bytes.find(utf16), std::string::npos);
  EXPECT_NE(bytes.find("NetworkPassword=dpapi:"), std::string::npos);
  std::wstring value;
  EXPECT_TRUE(store.GetItemParameter(L"office.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, kPassword);

  hosttest::CapturedOutput out;
  hosttest::CapturedOutput err;
  EXPECT_EQ(host::Run({L"--data", store.Folder(), L"locations", L"list"}, out, err), 0) << err.text();
  EXPECT_NE(out.text().find(L"(password set)"), std::wstring::npos) << out.text();
  EXPECT_EQ(out.text().find(L"S3cret"), std::wstring::npos);
}

// The plug-in passes one string for every location: a value left from the one
// before must not reach this share.
TEST_F(Locations, DamagedOrMissingPasswordIsAnsweredEmpty) {
  store.Add(L"office", {L"\\\\server\\docs", L"Z:", L"bob", kPassword});
  store.Add(L"guest", {L"\\\\server\\public", L"P:", L"", std::nullopt});
  const std::wstring path = store.Folder() + L"\\office.loc";
  std::string bytes = test::ReadFileBytes(path);
  const size_t last = bytes.rfind('\n') - 1;
  bytes[last] = bytes[last] == '0' ? '1' : '0';
  test::WriteFileBytes(path, bytes);
  std::wstring value = L"previous location's password";
  EXPECT_FALSE(store.GetItemParameter(L"office.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, L"");
  value = L"previous location's password";
  EXPECT_TRUE(store.GetItemParameter(L"guest.loc", L"NetworkPassword", value));
  EXPECT_EQ(value, L"");
}

TEST_F(Locations, PluginHostAnswersByNameAndLeavesTheValueForOthers) {
  store.Add(L"a", {L"\\\\alpha\\one", L"x:", L"ann", L"pa"});
  store.Add(L"b.loc", {L"\\\\beta\\two", L"Y:", L"", std::nullopt});
  host::PluginHost host(L"C:\\Data//Plugins//Computer", /*copyAcl=*/true, store);
  const struct {
    const wchar_t* item; // null: GetParameter
    const wchar_t* name;
    const wchar_t* answer; // null: not answered
  } cases[] = {
      {nullptr, L"GetDataStorage", L"C:\\Data//Plugins//Computer"}, {nullptr, L"CopyACL", L"True"},
      {nullptr, L"copyacl", nullptr},
      {L"a.loc", L"ShareName", L"\\\\alpha\\one"}, {L"a.loc", L"LocalDrive", L"X:"},
      {L"a.loc", L"NetworkUser", L"ann"}, {L"a.loc", L"NetworkPassword", L"pa"},
      {L"b.loc", L"ShareName", L"\\\\beta\\two"}, {L"b.loc", L"NetworkUser", L""},
      {L"a.loc", L"sharename", nullptr}, {L"missing.loc", L"ShareName", nullptr},
      {L"..\\Plugins\\a.loc", L"ShareName", nullptr},
  };
  for (const auto& c : cases) {
    std::wstring value = L"kept";
    const bool answered =
        c.item != nullptr ? host.GetItemParameter(c.item, c.name, value) : host.GetParameter(c.name, value);
    const std::wstring what = std::wstring(c.item != nullptr ? c.item : L"") + L" " + c.name;
    EXPECT_EQ(answered, c.answer != nullptr) << what.c_str();
    EXPECT_EQ(value, c.answer != nullptr ? c.answer : L"kept") << what.c_str();
  }
}

TEST_F(Locations, RefusedAddsAndRemovesChangeNothing) {
  store.Add(L"a", {L"\\\\alpha\\one", L"X:", L"", std::nullopt});
  EXPECT_THROW(store.Add(L"A.LOC", {L"\\\\beta\\two", L"Y:", L"", std::nullopt}), HostError);
  const LocationSettings good{L"\\\\server\\docs", L"Z:", L"", std::nullopt};
  for (const wchar_t* name : {L"", L"a\\b", L"a/b", L"..", L"what?", L"trailing.", L"CON", L"com1.loc"}) {
    EXPECT_THROW(store.Add(name, good), UsageError) << "accepted name '" << name << "'";
  }
  for (const wchar_t* share : {L"server\\docs", L"\\\\server", L"\\\\server\\", L"\\\\\\docs", L"\\\\s\\\\d"}) {
    EXPECT_THROW(store.Add(L"x", {share, L"Z:", L"", std::nullopt}), UsageError) << "accepted share " << share;
  }
  for (const wchar_t* drive : {L"Z", L"ZZ", L"1:", L"Z:\\"}) {
    EXPECT_THROW(store.Add(L"x", {L"\\\\s\\d", drive, L"", std::nullopt}), UsageError) << "accepted " << drive;
  }
  // A line break would let the user name write a second ShareName.
  EXPECT_THROW(store.Add(L"x", {L"\\\\s\\d", L"Z:", L"bob\nShareName=\\\\evil\\x", std::nullopt}), UsageError);
  EXPECT_THROW(store.Remove(L"..\\..\\victim"), UsageError);
  ASSERT_EQ(store.List().size(), 1u);
  std::wstring share;
  EXPECT_TRUE(store.GetItemParameter(L"a.loc", L"ShareName", share));
  EXPECT_EQ(share, L"\\\\alpha\\one");
}
