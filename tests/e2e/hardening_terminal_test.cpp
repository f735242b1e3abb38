/*
 * hardening_terminal_test.cpp - the terminal after a signal during a
 * question.  While the tool waits for a key the terminal is without echo
 * and without line editing; a SIGINT (also typed as Ctrl-C), SIGTERM or
 * SIGHUP at that moment must leave it as it was before the run, and the
 * signal ends the tool as it would any program (status 128 + N), with
 * nothing changed in the database.
 *
 * The runs are made here with openpty directly: the harness's terminal
 * runs type keys, but cannot signal the tool at a chosen moment.
 */
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "check_testdb.h"
#include "harness.h"

extern char **environ;

namespace {

double Now()
{
   struct timespec ts;
   clock_gettime(CLOCK_MONOTONIC, &ts);
   return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct SignalledRun
{
   std::string out;
   int status = -1;
   struct termios before;
   struct termios after;
   bool bAsked = false;     // the question was shown and a key awaited
};

/* A question answered before the one that gets the signal. */
struct Answer
{
   std::string question;
   char key;
};

/*
 * Runs the tool on a fresh terminal, types each answer once its question
 * is shown; once `question` has been printed and the terminal is in key
 * mode, delivers the signal (by kill, or for bTyped as Ctrl-C typed on the
 * terminal), and reads the terminal mode after exit.
 */
SignalledRun RunAndSignal(const vt::TestDb &db, const std::vector<std::string> &args, const std::string &question,
                          int nSignal, bool bTyped, const std::vector<Answer> &answers = {})
{
   SignalledRun run;
   int fdMaster = -1, fdSlave = -1;
   if (openpty(&fdMaster, &fdSlave, nullptr, nullptr, nullptr) != 0)
   {
      ADD_FAILURE() << "openpty failed";
      return run;
   }
   tcgetattr(fdMaster, &run.before);

   std::vector<std::string> env;
   for (char **p = environ; *p != nullptr; p++)
      if (std::string(*p).rfind("VELMOR_REGISTRY=", 0) != 0 && std::string(*p).rfind("NO_COLOR=", 0) != 0)
         env.push_back(*p);
   env.push_back("VELMOR_REGISTRY=/nonexistent/velmor-registry.conf");
   env.push_back("NO_COLOR=1");
   std::string tool = vt::ToolPath();
   std::vector<std::string> words = { tool, "-c", db.config };
   words.insert(words.end(), args.begin(), args.end());

   fflush(nullptr);
   pid_t pid = fork();
   if (pid == 0)
   {
      setsid();
      ioctl(fdSlave, TIOCSCTTY, 0);
      int fdNull = open("/dev/null", O_RDWR);
      dup2(fdNull, 0);
      dup2(fdSlave, 1);
      dup2(fdNull, 2);
      for (int fd = 3; fd < 1024; fd++)
         close(fd);
      std::vector<char *> argv, envp;
      for (std::string &w : words)
         argv.push_back(&w[0]);
      argv.push_back(nullptr);
      for (std::string &e : env)
         envp.push_back(&e[0]);
      envp.push_back(nullptr);
      execve(tool.c_str(), argv.data(), envp.data());
      _exit(127);
   }

   bool bSent = false;
   size_t nAnswered = 0;
   int status = 0;
   double start = Now();
   for (;;)
   {
      struct pollfd p = { fdMaster, POLLIN, 0 };
      if (poll(&p, 1, 10) > 0 && (p.revents & POLLIN))
      {
         char buf[4096];
         ssize_t n = read(fdMaster, buf, sizeof(buf));
         if (n > 0)
            run.out.append(buf, (size_t)n);
      }
      if (waitpid(pid, &status, WNOHANG) == pid)
         break;
      struct termios now;
      if (nAnswered < answers.size() && run.out.find(answers[nAnswered].question) != std::string::npos &&
          tcgetattr(fdMaster, &now) == 0 && (now.c_lflag & (ICANON | ECHO)) == 0)
      {
         if (write(fdMaster, &answers[nAnswered].key, 1) != 1)
            ADD_FAILURE() << "cannot type on the terminal";
         nAnswered++;
         continue;
      }
      if (!bSent && nAnswered == answers.size() && run.out.find(question) != std::string::npos && tcgetattr(fdMaster, &now) == 0 &&
          (now.c_lflag & (ICANON | ECHO)) == 0)
      {
         run.bAsked = true;
         bSent = true;
         if (bTyped)
         {
            if (write(fdMaster, "\x03", 1) != 1)
               ADD_FAILURE() << "cannot type on the terminal";
         }
         else
         {
            kill(pid, nSignal);
         }
      }
      if (Now() - start > 30)
      {
         ADD_FAILURE() << "the tool did not end; output:\n" << run.out;
         kill(pid, SIGKILL);
         waitpid(pid, &status, 0);
         break;
      }
   }
   // Whatever the tool wrote last.
   for (;;)
   {
      struct pollfd p = { fdMaster, POLLIN, 0 };
      char buf[4096];
      ssize_t n;
      if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN) || (n = read(fdMaster, buf, sizeof(buf))) <= 0)
         break;
      run.out.append(buf, (size_t)n);
   }
   tcgetattr(fdMaster, &run.after);
   close(fdSlave);
   close(fdMaster);
   run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
   return run;
}

/* The settings a question changes, as before the run. */
void ExpectRestored(const SignalledRun &run, const std::string &what)
{
   EXPECT_TRUE(run.bAsked) << what << ": the question never came; output:\n" << run.out;
   EXPECT_EQ(run.after.c_lflag, run.before.c_lflag) << what;
   EXPECT_EQ(run.after.c_iflag, run.before.c_iflag) << what;
   EXPECT_EQ(run.after.c_cc[VMIN], run.before.c_cc[VMIN]) << what;
   EXPECT_EQ(run.after.c_cc[VTIME], run.before.c_cc[VTIME]) << what;
   EXPECT_NE(run.after.c_lflag & ICANON, 0u) << what;
   EXPECT_NE(run.after.c_lflag & ECHO, 0u) << what;
}

TEST(TerminalAfterSignal, UnlockQuestion)
{
   const std::string question = "Do you wish to force database unlock? (Y/N) ";
   struct
   {
      const char *what;
      int nSignal;
      bool bTyped;
   } cases[] = {
      { "SIGINT", SIGINT, false },
      { "Ctrl-C typed", SIGINT, true },
      { "SIGTERM", SIGTERM, false },
      { "SIGHUP", SIGHUP, false },
   };
   for (const auto &c : cases)
   {
      vt::TestDb db = ct::MaintDb(vt::Engine::SQLite);
      vt::SetConfigValue(db, "DBLockStatus", "server1");
      SignalledRun run = RunAndSignal(db, { "unlock" }, question, c.nSignal, c.bTyped);
      ExpectRestored(run, c.what);
      EXPECT_EQ(run.status, 128 + c.nSignal) << c.what;
      EXPECT_EQ(run.out.substr(run.out.find("Database is locked")),
                "Database is locked by server server1 []\r\n" + question)
         << c.what;
      EXPECT_EQ(vt::ConfigValue(db, "DBLockStatus"), "server1") << c.what;
   }
}

/* In the middle of the check: the repairs made so far are not committed. */
TEST(TerminalAfterSignal, CheckQuestionLeavesNothingCommitted)
{
   vt::TestDb db = ct::MaintDb(vt::Engine::SQLite);
   vt::Exec(db, "INSERT INTO nodes (id,primary_ip,community) VALUES (10,'0.0.0.0','public');\n"
                "INSERT INTO nodes (id,primary_ip,community) VALUES (11,'0.0.0.0','public');\n");
   // The first question is answered with "y" (the repair runs inside the
   // transaction); the signal comes at the second.
   SignalledRun run = RunAndSignal(db, { "check" }, "Missing node object 11 properties. Create? (Y/N) ", SIGTERM,
                                   false, { { "Missing node object 10 properties. Create? (Y/N) ", 'y' } });
   ExpectRestored(run, "SIGTERM in check");
   EXPECT_EQ(run.status, 128 + SIGTERM);
   EXPECT_NE(run.out.find("Missing node object 10 properties. Create? (Y/N) Y\r\n"), std::string::npos) << run.out;
   EXPECT_EQ(vt::QueryValue(db, "SELECT count(*) FROM object_properties"), "0");
}

}  // namespace
