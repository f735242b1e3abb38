/*
 * console.cpp - console stand-in: text to standard output, colour
 * attributes as ANSI sequences, and single keys from the controlling
 * terminal.
 *
 * The terminal facts are decided once by ConsoleInit.  All text goes
 * through the stdio stream of standard output, escape sequences included,
 * so text written before a change of colour always reaches the terminal
 * before the change.
 */
#include "platform.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

namespace {

bool g_bColor = false;          // write colour sequences
bool g_bInitDone = false;
int g_fdTty = -1;               // controlling terminal for keys, -1 when none
bool g_bTtyTried = false;
volatile sig_atomic_t g_bTermiosSaved = 0;
struct termios g_savedTermios;  // settings to restore while a key is awaited

void RestoreTerminal()
{
   if (g_bTermiosSaved && g_fdTty >= 0)
   {
      tcsetattr(g_fdTty, TCSANOW, &g_savedTermios);
      g_bTermiosSaved = 0;
   }
}

void OnFatalSignal(int nSignal)
{
   RestoreTerminal();
   signal(nSignal, SIG_DFL);
   raise(nSignal);
}

const char *ColorSequence(int nAttribute)
{
   switch (nAttribute)
   {
      case CONSOLE_LIGHT_GREEN:
         return "\x1b[1;32m";
      case CONSOLE_LIGHT_RED:
         return "\x1b[1;31m";
      case CONSOLE_YELLOW:
         return "\x1b[1;33m";
      case CONSOLE_WHITE:
         return "\x1b[1;37m";
      default:
         return "\x1b[0m";
   }
}

void OpenTerminal()
{
   if (g_bTtyTried)
      return;
   g_bTtyTried = true;
   g_fdTty = open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
   if (g_fdTty >= 0 && !isatty(g_fdTty))
   {
      close(g_fdTty);
      g_fdTty = -1;
   }
}

}  // namespace

extern "C" void ConsoleInit(void)
{
   if (g_bInitDone)
      return;
   g_bInitDone = true;

   const char *pszForce = getenv("VLDBMGR_FORCE_COLOR");
   const char *pszNoColor = getenv("NO_COLOR");
   if (pszForce != NULL && strcmp(pszForce, "1") == 0)
      g_bColor = true;
   else
      g_bColor = isatty(STDOUT_FILENO) && (pszNoColor == NULL || *pszNoColor == 0);

   struct sigaction sa;
   memset(&sa, 0, sizeof(sa));
   sa.sa_handler = OnFatalSignal;
   sigemptyset(&sa.sa_mask);
   sa.sa_flags = SA_RESETHAND;
   sigaction(SIGINT, &sa, NULL);
   sigaction(SIGTERM, &sa, NULL);
   sigaction(SIGHUP, &sa, NULL);
   sigaction(SIGQUIT, &sa, NULL);
}

extern "C" int ConsolePrintf(const char *pszFormat, ...)
{
   va_list args;
   va_start(args, pszFormat);
   int nResult = vfprintf(stdout, pszFormat, args);
   va_end(args);
   return nResult;
}

extern "C" void ConsoleWrite(const char *pszText)
{
   fputs(pszText, stdout);
}

namespace {

void WriteVisible(const char *pszText, bool bKeepLayout)
{
   for (const unsigned char *p = (const unsigned char *)pszText; *p != 0; p++)
   {
      if (bKeepLayout && (*p == '\t' || *p == '\n' || *p == '\r'))
         fputc(*p, stdout);
      else if (*p < 0x20)
         fprintf(stdout, "^%c", *p + 0x40);
      else if (*p == 0x7F)
         fputs("^?", stdout);
      else
         fputc(*p, stdout);
   }
}

}  // namespace

extern "C" void ConsoleWriteVisible(const char *pszText)
{
   WriteVisible(pszText, false);
}

extern "C" void ConsoleWriteText(const char *pszText)
{
   WriteVisible(pszText, true);
}

extern "C" void ConsoleSetColor(int nAttribute)
{
   if (g_bColor)
      fputs(ColorSequence(nAttribute), stdout);
}

extern "C" void ConsoleFlush(void)
{
   fflush(stdout);
}

extern "C" int ConsoleReadKey(void)
{
   fflush(stdout);
   OpenTerminal();
   if (g_fdTty < 0)
      return -1;

   struct termios raw;
   if (tcgetattr(g_fdTty, &g_savedTermios) != 0)
      return -1;
   raw = g_savedTermios;
   raw.c_lflag &= ~(ICANON | ECHO);
   raw.c_cc[VMIN] = 1;
   raw.c_cc[VTIME] = 0;
   g_bTermiosSaved = 1;
   if (tcsetattr(g_fdTty, TCSANOW, &raw) != 0)
   {
      g_bTermiosSaved = 0;
      return -1;
   }

   unsigned char ch = 0;
   ssize_t nRead;
   do
   {
      nRead = read(g_fdTty, &ch, 1);
   } while (nRead < 0 && errno == EINTR);
   RestoreTerminal();

   // End of input (a hung-up or closed terminal) or a Ctrl-D: no answer.
   if (nRead != 1 || ch == 4)
      return -1;
   return ch;
}
