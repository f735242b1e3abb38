/*
 * engines.cpp - server engines for the test harness.  No server engine is
 * reachable yet: only SQLite runs.
 */
#include "engines.h"

namespace vt {

bool EngineAvailable(Engine)
{
   return false;
}

bool EngineNewDb(Engine, TestDb *, std::string *, std::string *error)
{
   *error = "engine not available";
   return false;
}

bool EngineExec(const TestDb &, const std::string &, std::string *error)
{
   *error = "engine not available";
   return false;
}

bool EngineQuery(const TestDb &, const std::string &, std::vector<std::vector<std::string>> *, std::string *error)
{
   *error = "engine not available";
   return false;
}

}  // namespace vt
