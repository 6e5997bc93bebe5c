#!/usr/bin/env bash
# Creates the empty embedded database beside the program when none exists.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
DIR="${1:-$ROOT/build}"
SCHEMA="$ROOT/resources/schema_sqlite.sql"
if [ -f "$SCHEMA" ] && [ ! -f "$DIR/velvanet.db" ]; then
  # Built aside and moved into place whole: an interrupted or failed run
  # leaves no half-made database that a later run would then keep.
  TMP="$DIR/velvanet.db.new.$$"
  rm -f "$TMP"
  trap 'rm -f "$TMP"' EXIT
  sqlite3 -bail "$TMP" < "$SCHEMA"
  mv "$TMP" "$DIR/velvanet.db"
  echo "make_db: created $DIR/velvanet.db"
fi
