#pragma once

#include <gtest/gtest.h>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <vector>

namespace orolith::test {

// The ids of the ordinary user the permission tests run as when the tests run as the superuser.
inline constexpr uid_t UnprivilegedId = 65534;

// Runs body where permissions take effect: in a child process under UnprivilegedId, a member of
// groups and of no other group, when we are the superuser (who may write anything), directly
// otherwise. Failures in the child count for the calling test. Give the child what it must
// write with HandOver.
inline void WithoutPrivileges(const std::function<void()>& body,
                              const std::vector<gid_t>& groups = {}) {
  if (::geteuid() != 0) {
    body();
    return;
  }
  // The child counts only its own failures, not those the test had before it.
  const auto failures = [] {
    const ::testing::TestResult* result =
        ::testing::UnitTest::GetInstance()->current_test_info()->result();
    int failed = 0;
    for (int i = 0; i < result->total_part_count(); ++i) {
      failed += result->GetTestPartResult(i).failed() ? 1 : 0;
    }
    return failed;
  };
  const int before = failures();
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (::setgroups(groups.size(), groups.data()) != 0 || ::setgid(UnprivilegedId) != 0 ||
        ::setuid(UnprivilegedId) != 0) {
      ::_exit(2);
    }
    // The child must end here whatever happens, never go on to run the other tests.
    try {
      body();
    } catch (const std::exception& error) {
      ADD_FAILURE() << "unexpected exception: " << error.what();
    }
    std::fflush(nullptr);
    ::_exit(failures() > before ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "the unprivileged part failed (status " << status << ")";
}

// Makes path the unprivileged user's when WithoutPrivileges will run as that user.
inline void HandOver(const std::filesystem::path& path) {
  if (::geteuid() == 0 && ::lchown(path.c_str(), UnprivilegedId, UnprivilegedId) != 0) {
    throw std::runtime_error("chown failed: " + path.string());
  }
}

}  // namespace orolith::test
