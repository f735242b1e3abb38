# replay.awk - turns the output of "vldbmgr -t <command>" into the SQL file
# that the engine's own client replays as the limit: the traced statements
# (">>> " stripped; a trace may follow an open stage line), each ended with
# ";", in the tool's transactions.
#
#   awk -v mode=upgrade|check|batch -f bench/replay.awk trace.txt > replay.sql
#
#   upgrade  every "Upgrading from version" line opens the transaction of
#            one step (the previous one is committed); step 52 to 53 drops
#            the old index of each node without a trace, before the traced
#            CREATE INDEX: its "   * idata_<id>" line stands for that DROP
#            (IF EXISTS: the tool ignores its failure); the same step
#            deletes the row IDataIndexCreationCommand_1, untraced, before
#            it inserts the row anew.
#   check    one transaction around every statement of the stages.
#   batch    the statements as they are: the file's own transactions.
# A line that is neither a trace nor a known line of the tool's own output
# is counted; the caller refuses a replay with unknown lines.
BEGIN { open = 0; unknown = 0 }
{
   line = $0
   sub(/^\r+/, "", line)   # questions start over their stage line
   p = index(line, ">>> ")
   if (p > 0) {
      if (mode == "check" && !open) { print "BEGIN;"; open = 1 }
      stmt = substr(line, p + 4)
      if (mode == "upgrade" && stmt ~ /^INSERT INTO config .*VALUES \('IDataIndexCreationCommand_1',/)
         print "DELETE FROM config WHERE var_name='IDataIndexCreationCommand_1';"
      print stmt ";"
      next
   }
   if (mode == "upgrade" && line ~ /^Upgrading from version [0-9]+ to [0-9]+$/) {
      if (open) print "COMMIT;"
      print "BEGIN;"
      open = 1
      next
   }
   if (mode == "upgrade" && line ~ /^   \* idata_-?[0-9]+$/) {
      id = substr(line, 12)
      print "DROP INDEX IF EXISTS idx_idata_" id "_timestamp;"
      next
   }
   if (line ~ /^SQL query failed/) { failed++; next }
   if (line ~ /^(Velmor Database Manager|Upgrading database|Database upgrade|Reindexing database|Checking database|Database check|Generating GUIDs|WARNING:|You system|Create indexes|Creating indexes|Database doesn.t|[0-9]+ errors was|All errors|Database still|Commit changes|Committing changes|Changes was|\* Checking|Unlinked |Missing |Cluster object|Object [0-9-]+ \[|Invalid |\[[A-Z ]+\]$)/ || line == "")
      next
   unknown++
   print "-- unknown output line: " line
}
END {
   if (open) print "COMMIT;"
   if (unknown > 0 || failed > 0) {
      printf "replay.awk: %d unknown output lines, %d failed statements\n", unknown, failed > "/dev/stderr"
      exit 1
   }
}
