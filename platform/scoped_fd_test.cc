#include "platform/scoped_fd.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <functional>
#include <utility>

namespace skjk {
namespace {

// A pipe whose write end is given to the code under test: the read end
// tells at once whether that end is still open (a closed one hangs up).
struct Pipe {
  Pipe() {
    int ends[2];
    EXPECT_EQ(pipe(ends), 0);
    read_end.reset(ends[0]);
    write_end = ends[1];
  }

  bool WriteEndOpen() const {
    pollfd p{read_end.get(), POLLIN, 0};
    EXPECT_GE(poll(&p, 1, 0), 0);
    return (p.revents & POLLHUP) == 0;
  }

  ScopedFd read_end;
  int write_end = -1;  // owned by the code under test
};

// Each case does something with a ScopedFd holding the write end; after it
// the end is open exactly when some owner still holds it (`kept`).
TEST(ScopedFdTest, TheDescriptorIsClosedOnceByItsLastOwner) {
  struct Case {
    const char* name;
    bool kept;  // the case leaves the descriptor in `*survivor`
    std::function<void(int fd, ScopedFd* survivor)> run;
  };
  const Case cases[] = {
      {"destroyed", false, [](int fd, ScopedFd*) { ScopedFd owner(fd); }},
      {"moved out, the source destroyed", true,
       [](int fd, ScopedFd* survivor) {
         ScopedFd source(fd);
         *survivor = ScopedFd(std::move(source));
       }},
      {"moved by assignment", true,
       [](int fd, ScopedFd* survivor) {
         ScopedFd source(fd);
         ScopedFd target;
         target = std::move(source);
         EXPECT_FALSE(source.valid());
         *survivor = std::move(target);
       }},
      {"reset", false, [](int fd, ScopedFd*) { ScopedFd(fd).reset(); }},
      {"released and closed by hand", false,
       [](int fd, ScopedFd*) {
         ScopedFd owner(fd);
         const int released = owner.release();
         EXPECT_EQ(released, fd);
         EXPECT_FALSE(owner.valid());
         close(released);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Pipe pipe;
    ScopedFd survivor;
    c.run(pipe.write_end, &survivor);
    EXPECT_EQ(pipe.WriteEndOpen(), c.kept);
    EXPECT_EQ(survivor.get(), c.kept ? pipe.write_end : -1);
    survivor.reset();
    EXPECT_FALSE(pipe.WriteEndOpen());
  }
}

// Assigning over a held descriptor closes that one, not the new one.
TEST(ScopedFdTest, AssignmentClosesTheDescriptorItReplaces) {
  Pipe replaced, kept;
  ScopedFd owner(replaced.write_end);
  owner = ScopedFd(kept.write_end);
  EXPECT_FALSE(replaced.WriteEndOpen());
  EXPECT_TRUE(kept.WriteEndOpen());
}

}  // namespace
}  // namespace skjk
