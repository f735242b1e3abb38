/*
 * fuzz_cmdfile.cpp - the SQL command-file splitter, driven exactly as
 * RunCommandFile drives it: SplitNextStatement from the start of the loaded
 * text to its end, IsBlankText on each piece.
 *
 * The text lies in a block of exactly its size plus the NUL that LoadFile
 * appends, so AddressSanitizer catches any read past the end.  Invariants:
 * every call moves forward and stays within the text; each statement is a
 * contiguous piece of the original, holds no ";" outside a literal, and is
 * followed in the original by its ";" (then at most one dropped line end)
 * or by the end of the text; the pieces and their terminators put together
 * give back the whole text; IsBlankText agrees with a plain scan.
 */
#include "fuzz.h"

#include "vldbmgr.h"

namespace fuzzcmdfile {

bool Blank(const std::string &s)
{
   for (char ch : s)
      if (ch != ' ' && ch != '\t' && ch != '\r' && ch != '\n')
         return false;
   return true;
}

/* True when the text ends outside a single-quoted literal and holds no ";"
   outside one. */
bool NoTerminatorOutsideLiteral(const std::string &s, bool *pbEndsInside)
{
   bool bInside = false;
   for (char ch : s)
   {
      if (ch == '\'')
         bInside = !bInside;
      else if (ch == ';' && !bInside)
         return false;
   }
   *pbEndsInside = bInside;
   return true;
}

int FuzzCommandFileSplitter(const uint8_t *pData, size_t nSize)
{
   // RunCommandFile refuses a file with a NUL in it before splitting.
   if (memchr(pData, 0, nSize) != nullptr)
      return 0;

   const std::string original((const char *)pData, nSize);
   char *pszText = (char *)malloc(nSize + 1);
   if (pszText == nullptr)
      return 0;
   memcpy(pszText, pData, nSize);
   pszText[nSize] = 0;

   char *pszEnd = pszText + nSize;
   char *pszPos = pszText;
   std::string rebuilt;
   while (pszPos < pszEnd)
   {
      size_t nStart = (size_t)(pszPos - pszText);
      char *pszNext = SplitNextStatement(pszPos, pszEnd);
      FUZZ_CHECK(pszNext > pszPos);
      FUZZ_CHECK(pszNext <= pszEnd);

      std::string statement(pszPos);
      size_t nLength = statement.size();
      FUZZ_CHECK(nStart + nLength <= nSize);
      FUZZ_CHECK(original.compare(nStart, nLength, statement) == 0);

      bool bEndsInside = false;
      FUZZ_CHECK(NoTerminatorOutsideLiteral(statement, &bEndsInside));

      size_t nAfter = nStart + nLength;
      if (nAfter < nSize)
      {
         // Ended by a ";" outside a literal, then at most one line end.
         FUZZ_CHECK(original[nAfter] == ';');
         FUZZ_CHECK(!bEndsInside);
         size_t nNext = (size_t)(pszNext - pszText);
         FUZZ_CHECK(nNext == nAfter + 1 || nNext == nAfter + 2);
         if (nNext == nAfter + 2)
            FUZZ_CHECK(original[nAfter + 1] == '\n' || original[nAfter + 1] == '\r');
         rebuilt += statement;
         rebuilt += original.substr(nAfter, nNext - nAfter);
      }
      else
      {
         // Ran to the end of the text, whole.
         FUZZ_CHECK(pszNext == pszEnd);
         rebuilt += statement;
      }

      FUZZ_CHECK((IsBlankText(pszPos) != 0) == Blank(statement));
      pszPos = pszNext;
   }
   FUZZ_CHECK(rebuilt == original);

   free(pszText);
   return 0;
}

}  // namespace fuzzcmdfile

VL_FUZZ_ENTRY(fuzzcmdfile::FuzzCommandFileSplitter)
