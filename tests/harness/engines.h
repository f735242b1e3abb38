/*
 * engines.h - the server engines behind the test harness: making fresh
 * databases on the test servers and running SQL on them directly.  The
 * servers are named by VLT_* environment variables (see engines.cpp and
 * scripts/servers.sh); an engine without them is not available.
 */
#ifndef VLDBMGR_TEST_ENGINES_H
#define VLDBMGR_TEST_ENGINES_H

#include "harness.h"

namespace vt {

/* True when the tests can reach the engine here (its environment is set). */
bool EngineAvailable(Engine e);

/* Makes a fresh, empty database on the engine's test server: fills db->name
   and *configText with the configuration lines that point the tool at it. */
bool EngineNewDb(Engine e, TestDb *db, std::string *configText, std::string *error);

/* Runs SQL (statements separated by ";" at line ends) on a server database. */
bool EngineExec(const TestDb &db, const std::string &sql, std::string *error);

/* Runs a query on a server database; NULL reads as "". */
bool EngineQuery(const TestDb &db, const std::string &query, std::vector<std::vector<std::string>> *rows,
                 std::string *error);

}  // namespace vt

#endif
