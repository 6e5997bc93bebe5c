#!/usr/bin/env bash
# Creates the empty embedded database beside the program when none exists.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR="${1:-$ROOT/build}"
SCHEMA="$ROOT/resources/schema_sqlite.sql"
if [ -f "$SCHEMA" ] && [ ! -f "$DIR/velvanet.db" ]; then
  sqlite3 "$DIR/velvanet.db" < "$SCHEMA"
  echo "make_db: created $DIR/velvanet.db"
fi
