// DeleteKeyTree's results and where it stops, on keys under
// HKEY_CURRENT_USER\Software\QvTest\<test name>.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>

#include <string>

#include "removal/registry.h"

namespace {

std::string Base() {
    const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
    return std::string("Software\\QvTest\\") + info->test_suite_name() + "." + info->name();
}

void MakeKey(const std::string& path) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegCloseKey(key);
}

bool KeyExists(const std::string& path) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

// Lets everyone delete the key but nobody list its subkeys.
void DenyEnumeration(const std::string& path) {
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_ALL_ACCESS, &key));
    EXPLICIT_ACCESS_A access = {};
    access.grfAccessPermissions = DELETE | KEY_QUERY_VALUE | READ_CONTROL | WRITE_DAC;
    access.grfAccessMode = SET_ACCESS;
    access.grfInheritance = NO_INHERITANCE;
    access.Trustee.TrusteeForm = TRUSTEE_IS_NAME;
    access.Trustee.ptstrName = (char*)"EVERYONE";
    PACL acl = NULL;
    ASSERT_EQ(ERROR_SUCCESS, (LONG)SetEntriesInAclA(1, &access, NULL, &acl));
    EXPECT_EQ(ERROR_SUCCESS, (LONG)SetSecurityInfo(key, SE_REGISTRY_KEY,
                                                   DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                   NULL, NULL, acl, NULL));
    LocalFree(acl);
    RegCloseKey(key);
}

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { RemoveTestKeys(); }
    void TearDown() override { RemoveTestKeys(); }

    // The test's own clean-up, by the plain calls (leaf keys only).
    static void RemoveTestKeys() {
        std::string base = Base();
        for (const char* path : {"\\K\\a", "\\K\\b", "\\K\\c", "\\K", "\\T\\A\\B\\C", "\\T\\A\\B", "\\T\\A\\B2",
                                 "\\T\\A", "\\T", ""})
            RegDeleteKeyA(HKEY_CURRENT_USER, (base + path).c_str());
    }
};

TEST_F(RegistryTest, DeletesATreeDepthFirst) {
    std::string base = Base();
    MakeKey(base + "\\T\\A\\B\\C");
    MakeKey(base + "\\T\\A\\B2");
    EXPECT_EQ(ERROR_SUCCESS, DeleteKeyTree(HKEY_CURRENT_USER, (base + "\\T").c_str()));
    EXPECT_FALSE(KeyExists(base + "\\T"));
    EXPECT_TRUE(KeyExists(base));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, DeleteKeyTree(HKEY_CURRENT_USER, (base + "\\T").c_str()));
}

// Opening a key by an empty path gives the key itself: it must never be deleted.
TEST_F(RegistryTest, EmptyPathIsABadKeyAndDeletesNothing) {
    std::string base = Base();
    MakeKey(base + "\\T\\A");
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, base.c_str(), 0, KEY_ALL_ACCESS, &key));
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(key, ""));
    EXPECT_EQ(ERROR_BADKEY, DeleteKeyTree(key, NULL));
    RegCloseKey(key);
    EXPECT_TRUE(KeyExists(base + "\\T\\A"));
}

// Subkeys come in name order: "a" goes, "b" cannot be listed, so the walk
// stops there with that error and "c" and the key itself stay.
TEST_F(RegistryTest, StopsAtTheFirstFailureAndPassesItOn) {
    std::string base = Base();
    MakeKey(base + "\\K\\a");
    MakeKey(base + "\\K\\b");
    MakeKey(base + "\\K\\c");
    DenyEnumeration(base + "\\K\\b");
    EXPECT_EQ(ERROR_ACCESS_DENIED, DeleteKeyTree(HKEY_CURRENT_USER, (base + "\\K").c_str()));
    EXPECT_FALSE(KeyExists(base + "\\K\\a"));
    EXPECT_TRUE(KeyExists(base + "\\K\\b"));
    EXPECT_TRUE(KeyExists(base + "\\K\\c"));
    EXPECT_TRUE(KeyExists(base + "\\K"));
}

}  // namespace
