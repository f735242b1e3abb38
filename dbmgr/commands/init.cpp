/*
 * init.cpp - the init command: run the initial SQL command file of an empty
 * database, then give the built-in user 0 and the built-in user group
 * 0x80000000 freshly generated GUIDs.
 *
 * Runs before the syntax of the database is known and depends on none of
 * it.  No transaction, no version gate, no lock test: every statement
 * stands as soon as it has run.
 */
#include "../vldbmgr.h"

/* Size of the buffer of each GUID update. */
#define INIT_STATEMENT_SIZE 256

/* Size of the text form of a GUID. */
#define GUID_TEXT_SIZE 64

/* Identifier of the built-in user group (everyone). */
#define BUILTIN_GROUP_ID 0x80000000u

/* NewGuidText - generate a fresh GUID and write its text form into pszBuffer. */
static void NewGuidText(char *pszBuffer)
{
   uuid_t guid;
   uuid_generate(guid);
   uuid_to_string(guid, pszBuffer);
}

/*
 * SetBuiltinGuids - give user 0 and the built-in group two different fresh
 * GUIDs.  Non-zero when both updates succeeded; when the second one fails,
 * the first one stays.
 */
static int SetBuiltinGuids(void)
{
   char szGuid[GUID_TEXT_SIZE];
   char szQuery[INIT_STATEMENT_SIZE];

   NewGuidText(szGuid);
   if (!FormatSql(szQuery, sizeof(szQuery), "UPDATE users SET guid='%s' WHERE id=0", szGuid) ||
       !ExecQuery(szQuery))
      return 0;

   NewGuidText(szGuid);
   if (!FormatSql(szQuery, sizeof(szQuery), "UPDATE user_groups SET guid='%s' WHERE id=%d",
                  szGuid, (int)BUILTIN_GROUP_ID) ||
       !ExecQuery(szQuery))
      return 0;
   return 1;
}

/*
 * RunInitCommand - initialise the database from the SQL command file
 * pszFile and report "successfully" or "failed" on the console.
 */
void RunInitCommand(const char *pszFile)
{
   ConsolePrintf("Initializing database...\n");
   if (RunCommandFile(pszFile) && SetBuiltinGuids())
   {
      ConsolePrintf("Database initialized successfully\n");
   }
   else
   {
      ConsolePrintf("Database initialization failed\n");
   }
}
