// Every statement the steps from 14 to 48 send, letter for letter: the
// traced output of an upgrade of the version-14 fixture under -t -X -f, from
// its first step line up to the line of step 48 to 49, compared whole with
// tests/golden/steps_14_47_<syntax>.txt, for each SQL syntax.
//
// The run is on a SQLite file whose DBSyntax names the syntax, so the type
// of every syntax is traced; SQLite takes all of these statements but the
// ones that reuse the names idx_item_id and idx_timestamp, which show as
// failures that -X carries past.  Generated GUIDs and the current time in
// the traced statements stand as <GUID> and <TIME> in the files.
//
// After a deliberate change of a step, rewrite the files with
// VLDBMGR_UPDATE_GOLDEN=1 and review the diff line by line before
// committing it: the files are the reference, not a record of the output.
#include <gtest/gtest.h>

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <regex>
#include <sstream>
#include <string>

#include "harness.h"

namespace {

/* Number of "Upgrading from version N to N+1" lines in an output. */
int CountStepLines(const std::string &out)
{
   static const std::regex stepLine("Upgrading from version [0-9]+ to [0-9]+");
   std::istringstream lines(out);
   int n = 0;
   for (std::string line; std::getline(lines, line);)
      n += std::regex_match(line, stepLine) ? 1 : 0;
   return n;
}

const char *const kSyntaxes[] = { "SQLITE", "MYSQL", "PGSQL", "MSSQL", "ORACLE" };

std::string GoldenPath(const char *syntax)
{
   std::string name = syntax;
   for (char &c : name)
      c = (char)tolower((unsigned char)c);
   return vt::SourceDir() + "/tests/golden/steps_14_47_" + name + ".txt";
}

vt::TestDb FixtureDb(const char *syntax)
{
   vt::TestDb db = vt::NewDb(vt::Engine::SQLite);
   vt::Exec(db, "BEGIN;\n" + vt::ReadFile(vt::SourceDir() + "/tests/fixtures/v14.sql") + "COMMIT;\n");
   vt::SetConfigValue(db, "DBSyntax", syntax);
   return db;
}

// The output of steps 14 to 47, with GUIDs and times masked.
std::string StepsSection(const std::string &out)
{
   size_t start = out.find("Upgrading from version 14 to 15\n");
   size_t end = out.find("Upgrading from version 48 to 49\n");
   if (start == std::string::npos || end == std::string::npos || end < start)
      return "(steps 14 to 48 not found in the output)\n" + out;
   std::string section = out.substr(start, end - start);
   section = std::regex_replace(section, std::regex("guid='[0-9a-f-]{36}'"), "guid='<GUID>'");
   // last_modified, the last value of the object_properties inserts
   return std::regex_replace(section, std::regex(",[0-9]{9,}\\)\n"), ",<TIME>)\n");
}

std::string FirstDifference(const std::string &expected, const std::string &actual)
{
   size_t i = 0;
   while (i < expected.size() && i < actual.size() && expected[i] == actual[i])
      i++;
   size_t start = expected.rfind('\n', i == 0 ? 0 : i - 1);
   start = (start == std::string::npos) ? 0 : start + 1;
   auto line = [start](const std::string &s) { return s.substr(start, s.find('\n', start) - start); };
   return "first difference at byte " + std::to_string(i) + ":\n  expected: " + line(expected) +
          "\n  actual:   " + line(actual);
}

TEST(Upgrade14Golden, TracedStatementsOfEverySyntax)
{
   const bool update = getenv("VLDBMGR_UPDATE_GOLDEN") != nullptr;
   for (const char *syntax : kSyntaxes)
   {
      vt::TestDb db = FixtureDb(syntax);
      vt::RunResult r = vt::Run(db, { "-t", "-X", "-f", "upgrade" });
      std::string head = std::string(vt::kBanner) + "Upgrading database...\nUpgrading from version 14 to 15\n";
      EXPECT_EQ(r.out.compare(0, head.size(), head), 0) << syntax << ":\n" << r.out;

      std::string actual = StepsSection(r.out);
      if (update)
         vt::WriteFile(GoldenPath(syntax), actual);
      std::string expected = vt::ReadFile(GoldenPath(syntax));
      EXPECT_EQ(actual, expected) << syntax << ": " << FirstDifference(expected, actual);

      // The walk goes on through 48 to 83, one line per step.
      EXPECT_EQ(CountStepLines(r.out), 69) << syntax;
      const std::string tail = "Database upgrade succeeded\n";
      EXPECT_EQ(r.out.compare(r.out.size() - tail.size(), tail.size(), tail), 0) << syntax;
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(vt::ConfigValue(db, "DBFormatVersion"), "83") << syntax;
   }
}

// On MySQL the table-type suffix of -I goes on the tables that steps 14 to
// 47 create with CreateTableSql, and never on those that they create with a
// plain statement or inside a script.
TEST(Upgrade14Golden, TableTypeSuffixOnlyThroughCreateTableSql)
{
   vt::TestDb db = FixtureDb("MYSQL");
   vt::RunResult r = vt::Run(db, { "-t", "-X", "-I", "upgrade" });
   std::string section = StepsSection(r.out);

   const std::regex created(">>> CREATE TABLE ([a-z_]+)[ \t(][^\n]*\n");
   std::string plain, suffixed;
   for (auto it = std::sregex_iterator(section.begin(), section.end(), created); it != std::sregex_iterator(); ++it)
   {
      const std::string stmt = it->str();
      bool hasSuffix = stmt.size() > 8 && stmt.compare(stmt.size() - 8, 8, "=InnoDB\n") == 0;
      (hasSuffix ? suffixed : plain) += (*it)[1].str() + " ";
   }
   EXPECT_EQ(plain, "snmp_trap_cfg snmp_trap_pmap policy_event_list event_cfg event_group_members event_log modules ");
   EXPECT_EQ(suffixed,
             "agent_pkg network_services raw_dci_values object_properties user_profiles zones zone_ip_addr_list "
             "vpn_connectors vpn_connector_networks object_tools object_tools_acl object_tools_table_columns "
             "dci_schedules syslog script_library snmp_trap_log maps map_access_lists submaps "
             "submap_object_positions submap_links conditions cond_dci_map agent_configs alarm_notes "
             "alarm_change_log alarm_grops alarm_group_map policy_time_range_list time_ranges ");
}

}  // namespace
