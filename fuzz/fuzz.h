/*
 * fuzz.h - what the fuzz targets share: the invariant check, the capture of
 * what a routine prints, and the entry-point macro.
 *
 * Each target file defines one entry routine, int FuzzXxx(const uint8_t *,
 * size_t).  Built as a libFuzzer binary (VL_FUZZ_STANDALONE defined) the
 * file also defines LLVMFuzzerTestOneInput around it; the unit test
 * tests/unit/fuzz_replay_test.cpp includes the same files and replays the
 * kept corpus through the same routines under the normal build.
 */
#ifndef VLDBMGR_FUZZ_H
#define VLDBMGR_FUZZ_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

/* Called when an invariant does not hold.  The default prints and aborts,
   which is what libFuzzer wants; the replay test reports a test failure. */
typedef void (*FuzzFailHandler)(const char *pszFile, int nLine, const char *pszWhat);

inline FuzzFailHandler g_pfnFuzzFail = nullptr;

inline void FuzzFail(const char *pszFile, int nLine, const char *pszWhat)
{
   if (g_pfnFuzzFail != nullptr)
   {
      g_pfnFuzzFail(pszFile, nLine, pszWhat);
      return;
   }
   fprintf(stderr, "%s:%d: invariant broken: %s\n", pszFile, nLine, pszWhat);
   abort();
}

#define FUZZ_CHECK(cond)                                                                             \
   do                                                                                                \
   {                                                                                                 \
      if (!(cond))                                                                                   \
         FuzzFail(__FILE__, __LINE__, #cond);                                                        \
   } while (0)

/*
 * Everything written to standard output between Begin and End, read back.
 * File descriptor 1 points into an anonymous memory file meanwhile, so the
 * console layer (stdio on stdout) is captured exactly as it would print.
 */
class FuzzStdoutCapture
{
public:
   void Begin()
   {
      fflush(stdout);
      m_fd = memfd_create("vlfuzz-stdout", 0);
      m_saved = dup(STDOUT_FILENO);
      if (m_fd >= 0 && m_saved >= 0)
         dup2(m_fd, STDOUT_FILENO);
   }
   std::string End()
   {
      fflush(stdout);
      std::string text;
      if (m_saved >= 0)
      {
         dup2(m_saved, STDOUT_FILENO);
         close(m_saved);
         m_saved = -1;
      }
      if (m_fd >= 0)
      {
         char buf[65536];
         ssize_t n;
         lseek(m_fd, 0, SEEK_SET);
         while ((n = read(m_fd, buf, sizeof(buf))) > 0)
            text.append(buf, (size_t)n);
         close(m_fd);
         m_fd = -1;
      }
      return text;
   }

private:
   int m_fd = -1;
   int m_saved = -1;
};

/* Standard error sent to /dev/null meanwhile: the messages of the code
   under test (a loader that names every bad line, the option scanner)
   would drown the fuzzer's own report. */
class FuzzStderrMute
{
public:
   FuzzStderrMute()
   {
      fflush(stderr);
      m_saved = dup(STDERR_FILENO);
      int fd = open("/dev/null", O_WRONLY);
      if (fd >= 0)
      {
         dup2(fd, STDERR_FILENO);
         close(fd);
      }
   }
   ~FuzzStderrMute()
   {
      fflush(stderr);
      if (m_saved >= 0)
      {
         dup2(m_saved, STDERR_FILENO);
         close(m_saved);
      }
   }

private:
   int m_saved = -1;
};

#ifdef VL_FUZZ_STANDALONE
#define VL_FUZZ_ENTRY(fn)                                                                            \
   extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pData, size_t nSize) { return fn(pData, nSize); }
#else
#define VL_FUZZ_ENTRY(fn)
#endif

#endif
