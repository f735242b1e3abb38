// Replays the kept fuzzing corpus (fuzz/corpus/<target>/) through the same
// entry routines the libFuzzer targets use, under the normal build: every
// input once fuzzed (and every input that once broke something) is checked
// again on every test run.  A broken invariant is a test failure naming the
// corpus file.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <string>
#include <vector>

#include "harness.h"

#include "../../fuzz/fuzz_batch.cpp"
#include "../../fuzz/fuzz_cmdfile.cpp"
#include "../../fuzz/fuzz_cmdline.cpp"
#include "../../fuzz/fuzz_config.cpp"
#include "../../fuzz/fuzz_encoding.cpp"

namespace {

struct FuzzTarget
{
   const char *pszName;
   int (*pfnEntry)(const uint8_t *, size_t);
};

const FuzzTarget kTargets[] = {
   { "config", fuzzconfig::FuzzConfigLoader },
   { "cmdfile", fuzzcmdfile::FuzzCommandFileSplitter },
   { "encoding", fuzzencoding::FuzzEncodingRoundTrip },
   { "batch", fuzzbatch::FuzzBatchRunner },
   { "cmdline", fuzzcmdline::FuzzCommandLine },
};

std::string g_currentInput;

void ReportBrokenInvariant(const char *pszFile, int nLine, const char *pszWhat)
{
   ADD_FAILURE_AT(pszFile, nLine) << "invariant broken: " << pszWhat << "\n  input: " << g_currentInput;
}

std::vector<std::string> CorpusFiles(const std::string &dir)
{
   std::vector<std::string> files;
   DIR *pDir = opendir(dir.c_str());
   if (pDir == nullptr)
      return files;
   while (struct dirent *pEntry = readdir(pDir))
      if (pEntry->d_name[0] != '.')
         files.push_back(dir + "/" + pEntry->d_name);
   closedir(pDir);
   std::sort(files.begin(), files.end());
   return files;
}

struct FuzzReplay : ::testing::TestWithParam<FuzzTarget>
{
};

TEST_P(FuzzReplay, EveryCorpusInputHoldsTheInvariants)
{
   const FuzzTarget &target = GetParam();
   std::string bin = vt::ToolPath().substr(0, vt::ToolPath().rfind('/'));
   setenv("VLDBMGR_DRIVER_DIR", bin.c_str(), 1);
   setenv("TMPDIR", vt::TempDir().c_str(), 1);

   std::vector<std::string> files = CorpusFiles(vt::SourceDir() + "/fuzz/corpus/" + target.pszName);
   ASSERT_FALSE(files.empty()) << "no corpus for " << target.pszName;
   g_pfnFuzzFail = ReportBrokenInvariant;
   for (const std::string &file : files)
   {
      g_currentInput = file;
      std::string data = vt::ReadFile(file);
      target.pfnEntry((const uint8_t *)data.data(), data.size());
   }
   g_pfnFuzzFail = nullptr;
   if (std::string(target.pszName) == "batch")
      DBUnloadDriver();
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<FuzzTarget> &info) { return std::string(info.param.pszName); });

}  // namespace
