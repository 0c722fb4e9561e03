// The MariaDB address of --db: what it names, and what it refuses.
#include <gtest/gtest.h>

#include <string>

#include "appserver/database.h"

namespace skjk::appserver {
namespace {

TEST(MariadbUrlTest, ParsesEveryPartAndFormatsBack) {
  const struct {
    const char* text;
    const char* user;
    const char* password;
    const char* host;
    int port;
    const char* database;
  } cases[] = {
      {"mariadb://app@db/skjk", "app", "", "db", 3306, "skjk"},
      {"mariadb://app:pw@10.0.0.5:3307/skjk_2", "app", "pw", "10.0.0.5", 3307,
       "skjk_2"},
      // Escapes for what the address itself uses; the last '@' ends the
      // account.
      {"mariadb://a%40b:p%3Aw%2F@h/d", "a@b", "p:w/", "h", 3306, "d"},
      {"mariadb://app:p@ss@h:1/d", "app", "p@ss", "h", 1, "d"},
      {"mariadb://app@[::1]:3308/d", "app", "", "::1", 3308, "d"},
  };
  for (const auto& c : cases) {
    auto url = ParseMariadbUrl(c.text);
    ASSERT_TRUE(url.ok()) << c.text << ": " << url.status().message();
    EXPECT_EQ(url->user, c.user) << c.text;
    EXPECT_EQ(url->password, c.password) << c.text;
    EXPECT_EQ(url->host, c.host) << c.text;
    EXPECT_EQ(url->port, c.port) << c.text;
    EXPECT_EQ(url->database, c.database) << c.text;
    auto again = ParseMariadbUrl(FormatMariadbUrl(*url));
    ASSERT_TRUE(again.ok()) << FormatMariadbUrl(*url);
    EXPECT_EQ(again->password, url->password);
    EXPECT_EQ(again->host, url->host);
    EXPECT_EQ(again->port, url->port);
  }
}

TEST(MariadbUrlTest, RefusesWhatIsNotAnAddress) {
  for (const char* text : {
           "mariadb://db/skjk",            // no account
           "mariadb://app@db",             // no database
           "mariadb://app@db/",            // empty database
           "mariadb://@db/skjk",           // empty user
           "mariadb://app@:3306/skjk",     // no host
           "mariadb://app@db:0/skjk",      // port out of range
           "mariadb://app@db:65536/skjk",  // port out of range
           "mariadb://app@db:33x/skjk",    // port not a number
           "mariadb://app@db/sk-jk",       // not a plain name
           "mariadb://app@db/a`b",         // not a plain name
           "mariadb://a%4@db/skjk",        // broken escape
           "mysql://app@db/skjk",          // another scheme
       }) {
    EXPECT_FALSE(ParseMariadbUrl(text).ok()) << text;
  }
  EXPECT_TRUE(IsMariadbUrl("mariadb://x"));
  EXPECT_FALSE(IsMariadbUrl("/var/lib/skjk/mariadb.db"));
}

}  // namespace
}  // namespace skjk::appserver
