// Server tests parameterised by the database backend:
//
//   class MyTest : public ::testing::TestWithParam<testing::Backend> {};
//   TEST_P(MyTest, Case) {
//     SKJK_SKIP_WITHOUT_BACKEND(GetParam());
//     auto server = testing::ServerProcess::Start({.backend = GetParam()});
//     ...
//   }
//   INSTANTIATE_TEST_SUITE_P(Backends, MyTest,
//                            ::testing::ValuesIn(testing::kBackends),
//                            testing::BackendParamName);
#ifndef SKJK_SERVER_TESTING_BACKENDS_H_
#define SKJK_SERVER_TESTING_BACKENDS_H_

#include <gtest/gtest.h>

#include <string>

#include "server/testing/server_process.h"

namespace skjk::testing {

inline std::string BackendParamName(
    const ::testing::TestParamInfo<Backend>& info) {
  return BackendName(info.param);
}

}  // namespace skjk::testing

// Skips a MariaDB case when no MariaDB server is set up for the tests (a
// test program run by hand); under CTest a fixture provides one, and a
// fixture that failed fails the case.
#define SKJK_SKIP_WITHOUT_BACKEND(backend)                                  \
  do {                                                                      \
    if ((backend) == ::skjk::testing::Backend::kMariadb) {                  \
      auto skjk_url = ::skjk::testing::MariadbServerUrl();                  \
      ASSERT_TRUE(skjk_url.ok()) << skjk_url.status().message();            \
      if (skjk_url->empty()) GTEST_SKIP() << "SKJK_MARIADB_URL_FILE unset"; \
    }                                                                       \
  } while (0)

#endif  // SKJK_SERVER_TESTING_BACKENDS_H_
