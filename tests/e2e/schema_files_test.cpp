// The three shipped initial-database files: written in the command-file form
// (one statement a line, closed by ";" and a line end, no comments), and
// alike in everything but their SQL types and the two rows that name the
// syntax, so a database made from any of them has the same tables, columns,
// keys and default rows.
#include <gtest/gtest.h>

#include <sstream>

#include "harness.h"

namespace {

std::vector<std::string> Lines(vt::Engine e)
{
   std::string text = vt::ReadFile(vt::ShippedSchema(e));
   std::vector<std::string> lines;
   std::istringstream in(text);
   for (std::string line; std::getline(in, line);)
      lines.push_back(line);
   EXPECT_FALSE(text.empty()) << vt::ShippedSchema(e);
   EXPECT_EQ(text.back(), '\n') << vt::ShippedSchema(e);
   return lines;
}

// "CREATE TABLE t (a type,b type,PRIMARY KEY(a))" -> "t(a,b) key(a)".
std::string Shape(const std::string &create)
{
   size_t open = create.find('(');
   std::string shape = create.substr(13, open - 13);
   std::string body = create.substr(open + 1, create.rfind(')') - open - 1);
   std::string part;
   int depth = 0;
   std::vector<std::string> parts;
   for (char c : body)
   {
      if (c == ',' && depth == 0)
      {
         parts.push_back(part);
         part.clear();
         continue;
      }
      depth += c == '(' ? 1 : c == ')' ? -1 : 0;
      part += c;
   }
   parts.push_back(part);
   for (const std::string &p : parts)
      shape += p.rfind("PRIMARY KEY", 0) == 0 ? " key" + p.substr(11) : " " + p.substr(0, p.find(' '));
   return shape;
}

TEST(ShippedSchemaFiles, AreInCommandFileForm)
{
   for (vt::Engine e : { vt::Engine::SQLite, vt::Engine::PgSQL, vt::Engine::MySQL })
      for (const std::string &line : Lines(e))
      {
         EXPECT_TRUE(line.size() > 1 && line.back() == ';') << vt::EngineName(e) << ": " << line;
         EXPECT_EQ(line.find("--"), std::string::npos) << vt::EngineName(e) << ": " << line;
         EXPECT_EQ(line.find("/*"), std::string::npos) << vt::EngineName(e) << ": " << line;
         EXPECT_EQ(line.find('\r'), std::string::npos) << vt::EngineName(e);
         EXPECT_EQ(line.find('\\'), std::string::npos) << vt::EngineName(e) << ": " << line;
      }
}

TEST(ShippedSchemaFiles, DifferOnlyInTypesAndSyntaxRows)
{
   std::vector<std::string> sqlite = Lines(vt::Engine::SQLite);
   for (vt::Engine e : { vt::Engine::PgSQL, vt::Engine::MySQL })
   {
      std::vector<std::string> other = Lines(e);
      ASSERT_EQ(other.size(), sqlite.size()) << vt::EngineName(e);
      for (size_t i = 0; i < sqlite.size(); i++)
      {
         const std::string &a = sqlite[i], &b = other[i];
         if (a.rfind("CREATE TABLE ", 0) == 0)
            EXPECT_EQ(Shape(b), Shape(a)) << vt::EngineName(e);
         else if (a.find("'DBSyntax'") != std::string::npos || a.find("'IDataIndexCreationCommand_1'") != std::string::npos)
            EXPECT_EQ(b.substr(0, b.find(",'")), a.substr(0, a.find(",'"))) << vt::EngineName(e);
         else
            EXPECT_EQ(b, a) << vt::EngineName(e);
      }
   }
}

}  // namespace
