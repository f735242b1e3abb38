/*
 * encoding.cpp - the server's encoded string form.
 *
 * A text stored in the database stands with every character that could end
 * or break a quoted literal or a script line written as "#" and two
 * hexadecimal digits; the empty text is stored as "#00".  Ordinary letters,
 * digits, blanks and bytes of multi-byte characters stay as they are.
 */
#include <vlsrv.h>

#include <stdlib.h>
#include <string.h>

namespace {

bool MustEncode(unsigned char ch)
{
   return ch < 0x20 || ch == 0x7F || ch == '\'' || ch == '"' || ch == '#' || ch == '\\';
}

int HexValue(char ch)
{
   if (ch >= '0' && ch <= '9')
      return ch - '0';
   if (ch >= 'A' && ch <= 'F')
      return ch - 'A' + 10;
   if (ch >= 'a' && ch <= 'f')
      return ch - 'a' + 10;
   return -1;
}

}  // namespace

extern "C" char *EncodeSQLString(const char *pszText)
{
   static const char szHex[] = "0123456789ABCDEF";
   if (pszText == nullptr)
      pszText = "";
   if (*pszText == 0)
      return strdup("#00");

   size_t nLength = 0;
   for (const unsigned char *p = (const unsigned char *)pszText; *p != 0; p++)
      nLength += MustEncode(*p) ? 3 : 1;
   char *pszOut = (char *)malloc(nLength + 1);
   if (pszOut == nullptr)
      return nullptr;
   char *q = pszOut;
   for (const unsigned char *p = (const unsigned char *)pszText; *p != 0; p++)
   {
      if (MustEncode(*p))
      {
         *q++ = '#';
         *q++ = szHex[*p >> 4];
         *q++ = szHex[*p & 15];
      }
      else
      {
         *q++ = (char)*p;
      }
   }
   *q = 0;
   return pszOut;
}

extern "C" char *DecodeSQLString(char *pszText)
{
   if (pszText == nullptr)
      return nullptr;
   char *pRead = pszText;
   char *pWrite = pszText;
   while (*pRead != 0)
   {
      if (*pRead == '#')
      {
         int nHigh = HexValue(pRead[1]);
         int nLow = nHigh >= 0 ? HexValue(pRead[2]) : -1;
         if (nHigh >= 0 && nLow >= 0)
         {
            // "#00" is the empty text; a NUL ends the decoded text there.
            *pWrite++ = (char)(nHigh * 16 + nLow);
            pRead += 3;
            continue;
         }
      }
      *pWrite++ = *pRead++;
   }
   *pWrite = 0;
   return pszText;
}
