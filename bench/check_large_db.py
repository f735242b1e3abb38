#!/usr/bin/env python3
"""Makes a large, sound SQLite database for timing the check command.

    bench/check_large_db.py <nodes> <folder> [<tool> [<schema file>]]

The folder receives v.db (initialised by "vldbmgr init" with the shipped
schema) and c.conf, a server configuration file that points at it.  Every node
gets one interface, a subnet link and properties rows for both, so check finds
nothing and does all its per-row lookups.  Then time it:

    time build/bin/vldbmgr -c <folder>/c.conf check

Never run by the tests.
"""
import os
import sqlite3
import subprocess
import sys


def main():
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    count = int(sys.argv[1])
    folder = sys.argv[2]
    tool = sys.argv[3] if len(sys.argv) > 3 else "build/bin/vldbmgr"
    schema = sys.argv[4] if len(sys.argv) > 4 else "examples/sql/dbinit_sqlite.sql"

    os.makedirs(folder, exist_ok=True)
    path = os.path.join(folder, "v.db")
    if os.path.exists(path):
        os.remove(path)
    config = os.path.join(folder, "c.conf")
    with open(config, "w") as f:
        f.write("DBDriver = sqlite\nDBName = %s\n" % path)
    subprocess.run([tool, "-c", config, "init", schema], check=True, stdout=subprocess.DEVNULL)

    nodes, interfaces, links, props = [], [], [], []
    for i in range(count):
        node = 1000 + 2 * i
        interface = node + 1
        nodes.append((node, "10.%d.%d.%d" % ((i >> 16) & 255, (i >> 8) & 255, i & 255), "public"))
        interfaces.append((interface, node))
        links.append((2, node))
        props.append((node, "node%d" % i, 0, 0, 0, 1, 1700000000, "#00"))
        props.append((interface, "if%d" % i, 0, 0, 0, 1, 1700000000, "#00"))

    db = sqlite3.connect(path)
    db.executemany("INSERT INTO nodes (id,primary_ip,community) VALUES (?,?,?)", nodes)
    db.executemany("INSERT INTO interfaces (id,node_id) VALUES (?,?)", interfaces)
    db.executemany("INSERT INTO nsmap (subnet_id,node_id) VALUES (?,?)", links)
    db.executemany("INSERT INTO object_properties (object_id,name,status,is_deleted,image_id,"
                   "inherit_access_rights,last_modified,comments) VALUES (?,?,?,?,?,?,?,?)", props)
    db.commit()


if __name__ == "__main__":
    main()
