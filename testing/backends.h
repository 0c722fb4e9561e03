// Server tests parameterised by the database backend:
//
//   class MyTest : public ::testing::TestWithParam<testing::Backend> {};
//   TEST_P(MyTest, Case) {
//     SKJK_REQUIRE_BACKEND(GetParam());
//     auto server = testing::ServerProcess::Start({.backend = GetParam()});
//     ...
//   }
//   INSTANTIATE_TEST_SUITE_P(Backends, MyTest,
//                            ::testing::ValuesIn(testing::kBackends),
//                            testing::BackendParamName);
#ifndef SKJK_TESTING_BACKENDS_H_
#define SKJK_TESTING_BACKENDS_H_

#include <gtest/gtest.h>

#include <string>

#include "testing/server_process.h"

namespace skjk::testing {

inline std::string BackendParamName(
    const ::testing::TestParamInfo<Backend>& info) {
  return BackendName(info.param);
}

}  // namespace skjk::testing

// Fails a MariaDB case when no MariaDB server is set up for the tests (under
// CTest the fixture `mariadb` provides one; a fixture that failed fails the
// case too), unless the run says on purpose that there is none:
// SKJK_NO_MARIADB=1 skips the case, and CTest counts it as skipped, not
// passed.
#define SKJK_REQUIRE_BACKEND(backend)                                       \
  do {                                                                      \
    if ((backend) == ::skjk::testing::Backend::kMariadb) {                  \
      if (::skjk::testing::MariadbAbsentOnPurpose()) {                      \
        GTEST_SKIP() << "SKJK_NO_MARIADB=1: no MariaDB server in this run"; \
      }                                                                     \
      auto skjk_url = ::skjk::testing::MariadbServerUrl();                  \
      ASSERT_TRUE(skjk_url.ok()) << skjk_url.status().message();            \
      ASSERT_FALSE(skjk_url->empty())                                       \
          << "no MariaDB server for the tests: SKJK_MARIADB_URL_FILE is "   \
             "unset (CTest's fixture mariadb sets it); set "                \
             "SKJK_NO_MARIADB=1 to skip the MariaDB cases on purpose";      \
    }                                                                       \
  } while (0)

#endif  // SKJK_TESTING_BACKENDS_H_
