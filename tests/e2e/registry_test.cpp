// The registry pass under Wine: key trees (walked on NT, one call on 9x) and
// single values. Every key lives under Software\QvTest\<test name> of
// HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE and is removed afterwards.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

const uint32_t CurrentUser = 0x80000001, LocalMachine = 0x80000002;

std::string Base() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("Software\\QvTest\\") + info->test_suite_name() + "." + info->name();
}

void MakeKey(HKEY root, const std::string& path) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)) << path;
    RegCloseKey(key);
}

void SetText(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)) << path;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, (const BYTE*)text.c_str(), DWORD(text.size() + 1));
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(HKEY root, const std::string& path, const std::string& name) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    LONG result = RegQueryValueExA(key, name.c_str(), NULL, NULL, NULL, NULL);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void RemoveKey(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    char name[256];
    DWORD length = sizeof name;
    while (RegEnumKeyExA(key, 0, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS) {
        RemoveKey(key, name);
        length = sizeof name;
    }
    RegCloseKey(key);
    RegDeleteKeyA(root, path.c_str());
}

// The test's keys in both roots, gone before and after the test.
class TestKeys {
public:
    TestKeys() { Clear(); }
    ~TestKeys() { Clear(); }

private:
    void Clear() {
        RemoveKey(HKEY_CURRENT_USER, Base());
        RemoveKey(HKEY_LOCAL_MACHINE, Base());
    }
};

void RunWithEntries(const std::vector<PackRegistry>& entries) {
    PackData data;
    data.messages = TestMessages();
    data.registry = entries;
    RunResult run = RunUninstaller(WriteUninstaller(FreshTestFolder(), data), "/S", {});
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty());
}

// On NT a key entry goes with everything below it: the pass walks the tree
// depth-first. On 9x the pass makes one RegDeleteKeyA per key entry. Wine's
// 9x RegDeleteKeyA deletes subkeys itself, but does not reset its name
// length between them (Wine 8): after one subkey it stops at the next whose
// name is not shorter, and leaves that and the key ("Pair", "Tree"). That
// tells the routes apart; a key with one subkey on each level goes whole.
TEST(RegistryEntries, KeyEntriesGoByTheFamilysRoute) {
    TestKeys keys;
    std::string base = Base();
    SetText(HKEY_CURRENT_USER, base + "\\Tree\\A", "v", "1");
    SetText(HKEY_CURRENT_USER, base + "\\Tree\\A\\B", "", "default");
    SetText(HKEY_CURRENT_USER, base + "\\Tree\\A\\B\\C\\D", "w", "2");
    MakeKey(HKEY_CURRENT_USER, base + "\\Tree\\A\\B2\\C2");
    MakeKey(HKEY_CURRENT_USER, base + "\\Tree\\A2");
    MakeKey(HKEY_CURRENT_USER, base + "\\Pair\\a");
    MakeKey(HKEY_CURRENT_USER, base + "\\Pair\\longer\\x");
    MakeKey(HKEY_CURRENT_USER, base + "\\TreeX");
    MakeKey(HKEY_CURRENT_USER, base + "\\Sibling");
    MakeKey(HKEY_LOCAL_MACHINE, base + "\\Tree\\Sub\\Deeper");
    RunWithEntries({
        {CurrentUser, base + "\\Tree"},
        {CurrentUser, base + "\\Pair"},
        {LocalMachine, base + "\\Tree"},
        {CurrentUser, ""},
        {CurrentUser, base + "\\Missing"},
    });
    bool nt = FamilyIsNt();
    EXPECT_EQ(!nt, KeyExists(HKEY_CURRENT_USER, base + "\\Tree"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Pair\\a"));
    EXPECT_EQ(!nt, KeyExists(HKEY_CURRENT_USER, base + "\\Pair\\longer\\x"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, base + "\\Tree"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, base));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\TreeX"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Sibling"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Missing"));
}

TEST(RegistryEntries, ValueEntriesRemoveOneValueEach) {
    TestKeys keys;
    std::string base = Base();
    SetText(HKEY_CURRENT_USER, base + "\\Vals", "Name", "1");
    SetText(HKEY_CURRENT_USER, base + "\\Vals", "Other", "2");
    SetText(HKEY_CURRENT_USER, base + "\\Vals", "", "default");
    MakeKey(HKEY_CURRENT_USER, base + "\\Vals\\Name");
    SetText(HKEY_CURRENT_USER, base + "\\Dflt", "", "default");
    SetText(HKEY_CURRENT_USER, base + "\\Dflt", "Keep", "k");
    SetText(HKEY_LOCAL_MACHINE, base + "\\Vals", "Name", "1");
    SetText(HKEY_LOCAL_MACHINE, base + "\\Vals", "Other", "2");
    RunWithEntries({
        {CurrentUser, base + "\\Vals\\\\Name"},
        {CurrentUser, base + "\\Dflt\\\\"},  // the key's default value
        {CurrentUser, base + "\\Missing\\\\Name"},
        {LocalMachine, base + "\\Vals\\\\Name"},
    });
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, base + "\\Vals", "Name"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Vals", "Other"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Vals", ""));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Vals\\Name"));  // a value entry never names a key
    EXPECT_FALSE(ValueExists(HKEY_CURRENT_USER, base + "\\Dflt", ""));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Dflt", "Keep"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Missing"));  // opened, never created
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, base + "\\Vals", "Name"));
    EXPECT_TRUE(ValueExists(HKEY_LOCAL_MACHINE, base + "\\Vals", "Other"));
}

// Only a doubled last backslash makes a value entry. Here the doubled one
// comes earlier, so the path names a key and goes to the registry as it is;
// Wine reads a doubled backslash in a key path as one separator.
TEST(RegistryEntries, EarlierDoubledBackslashNamesAKey) {
    TestKeys keys;
    std::string base = Base();
    SetText(HKEY_CURRENT_USER, base + "\\Odd", "Leaf", "1");
    SetText(HKEY_CURRENT_USER, base + "\\Odd", "Sub\\Leaf", "2");
    SetText(HKEY_CURRENT_USER, base + "\\Odd", "Sub", "3");
    SetText(HKEY_CURRENT_USER, base + "\\Odd\\Sub", "Leaf", "4");
    MakeKey(HKEY_CURRENT_USER, base + "\\Odd\\Sub\\Leaf\\Deeper");
    RunWithEntries({{CurrentUser, base + "\\Odd\\\\Sub\\Leaf"}});
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Odd", "Leaf"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Odd", "Sub\\Leaf"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Odd", "Sub"));
    EXPECT_TRUE(ValueExists(HKEY_CURRENT_USER, base + "\\Odd\\Sub", "Leaf"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Odd\\Sub\\Leaf"));
}

}  // namespace
