// The registry pass under Wine: the families' routes for key entries, and how
// a path is split into key and value. Every key lives under
// Software\QvTest\<test name> of HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE.
#include <gtest/gtest.h>
#include <windows.h>

#include "scenario.h"

namespace {

const uint32_t CurrentUser = 0x80000001, LocalMachine = 0x80000002;

std::string Base() {
    return "Software\\QvTest\\" + TestName();
}

void MakeKey(HKEY root, const std::string& path) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL)) << path;
    RegCloseKey(key);
}

bool KeyExists(HKEY root, const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// The test's keys in both roots, gone before and after the test.
struct TestKeys {
    TestKeys() { Clear(); }
    ~TestKeys() { Clear(); }
    void Clear() {
        RegDeleteTreeA(HKEY_CURRENT_USER, Base().c_str());
        RegDeleteTreeA(HKEY_LOCAL_MACHINE, Base().c_str());
    }
};

void RunWithEntries(const std::vector<PackRegistry>& entries) {
    PackData data = TestData();
    data.registry = entries;
    RunQuietly(FreshTestFolder(), data);
}

// On NT a key entry goes with everything below it: the pass walks the tree
// depth-first. On 9x the pass makes one RegDeleteKeyA per key entry. Wine's
// 9x RegDeleteKeyA deletes subkeys itself, but does not reset its name
// length between them (Wine 8): after one subkey it stops at the next whose
// name is not shorter, and leaves that and the key ("Pair", "Tree"). That
// tells the routes apart; a key with one subkey on each level goes whole.
// An empty path never names the root.
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
    MakeKey(HKEY_LOCAL_MACHINE, base + "\\Tree\\Sub\\Deeper");
    RunWithEntries({{CurrentUser, base + "\\Tree"}, {CurrentUser, base + "\\Pair"}, {LocalMachine, base + "\\Tree"}, {CurrentUser, ""}});
    bool nt = FamilyIsNt();
    EXPECT_EQ(!nt, KeyExists(HKEY_CURRENT_USER, base + "\\Tree"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Pair\\a"));
    EXPECT_EQ(!nt, KeyExists(HKEY_CURRENT_USER, base + "\\Pair\\longer\\x"));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, base + "\\Tree"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, base));
}

// A value entry (its last backslash doubled) removes that value of its root
// and nothing else: not a subkey of the same name, and its key is opened,
// never created. A doubled backslash earlier makes no value entry: the path
// names a key and goes to the registry as it is, and Wine reads a doubled
// backslash in a key path as one separator.
TEST(RegistryEntries, ValueEntriesRemoveOneValueEach) {
    TestKeys keys;
    std::string base = Base();
    SetText(HKEY_CURRENT_USER, base + "\\Vals", "Name", "1");
    MakeKey(HKEY_CURRENT_USER, base + "\\Vals\\Name");
    SetText(HKEY_LOCAL_MACHINE, base + "\\Vals", "Name", "1");
    SetText(HKEY_LOCAL_MACHINE, base + "\\Vals", "Other", "2");
    const std::vector<std::string> oddValues = {"Leaf", "Sub\\Leaf", "Sub"};
    for (const std::string& name : oddValues) SetText(HKEY_CURRENT_USER, base + "\\Odd", name, "3");
    SetText(HKEY_CURRENT_USER, base + "\\Odd\\Sub", "Leaf", "4");
    MakeKey(HKEY_CURRENT_USER, base + "\\Odd\\Sub\\Leaf\\Deeper");
    RunWithEntries({{CurrentUser, base + "\\Vals\\\\Name"}, {CurrentUser, base + "\\Missing\\\\Name"},
                    {LocalMachine, base + "\\Vals\\\\Name"}, {CurrentUser, base + "\\Odd\\\\Sub\\Leaf"}});
    EXPECT_FALSE(ReadValue(HKEY_CURRENT_USER, base + "\\Vals", "Name"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, base + "\\Vals\\Name"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Missing"));
    EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, base + "\\Vals", "Name"));
    EXPECT_TRUE(ReadValue(HKEY_LOCAL_MACHINE, base + "\\Vals", "Other"));
    for (const std::string& name : oddValues) EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, base + "\\Odd", name)) << name;
    EXPECT_TRUE(ReadValue(HKEY_CURRENT_USER, base + "\\Odd\\Sub", "Leaf"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, base + "\\Odd\\Sub\\Leaf"));
}

}  // namespace
