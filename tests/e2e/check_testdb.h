/*
 * check_testdb.h - what the tests of the maintenance commands share: a
 * database at format version 83 with the tables the commands read, and the
 * texts of the check command's stage lines.
 */
#ifndef VLDBMGR_CHECK_TESTDB_H
#define VLDBMGR_CHECK_TESTDB_H

#include <string>
#include "harness.h"

namespace ct {

/* A fresh database made by init from the shipped file: format version 83,
   unlocked, no objects and no policy rows. */
inline vt::TestDb MaintDb(vt::Engine e)
{
   return vt::InitDb(e);
}

/* The start of a stage line: marker, blank, title in 68 columns. */
inline std::string Stage(const std::string &title)
{
   std::string line = "* " + title;
   if (title.size() < 68)
      line.append(68 - title.size(), ' ');
   return line;
}

inline std::string Passed(const std::string &title) { return Stage(title) + "[PASSED]\n"; }
inline std::string Fixed(const std::string &title) { return Stage(title) + "[FIXED ]\n"; }
inline std::string Error(const std::string &title) { return Stage(title) + "[ERROR ]\n"; }

/* The six stage titles, in their order. */
const char *const kNodes = "Checking node objects...";
const char *const kInterfaces = "Checking interface objects...";
const char *const kServices = "Checking network service objects...";
const char *const kClusters = "Checking cluster objects...";
const char *const kProperties = "Checking object properties...";
const char *const kPolicy = "Checking event processing policy...";

}  // namespace ct

#endif
