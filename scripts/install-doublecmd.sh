#!/bin/sh
# Installs the Tolvex module into Double Commander and registers it for the
# extension tvx.
#
#   install-doublecmd.sh [--config-dir DIR] [MODULE]
#
# MODULE defaults to the Tolvex.wcx beside this script (the Linux package) or
# build/linux/Tolvex.wcx (the source tree). DIR defaults to
# ~/.config/doublecmd. The module is copied to DIR/plugins/wcx/tolvex/ and a
# WcxPlugin element for it is added to DIR/doublecmd.xml: the file is created
# when missing; when present everything else in it stays byte for byte, and the
# old file is kept as doublecmd.xml.tolvex-backup. A second run changes
# nothing. Refuses while Double Commander runs: it writes its configuration
# when it closes, which would undo the change.
set -eu

# What the module reports from GetPackerCaps: create, modify, several files,
# delete, detection by content.
FLAGS=79

fail() {
  echo "install-doublecmd: $*" >&2
  exit 1
}

CONFIG_DIR=${XDG_CONFIG_HOME:-$HOME/.config}/doublecmd
MODULE=
while [ $# -gt 0 ]; do
  case $1 in
    --config-dir) [ $# -ge 2 ] || fail "--config-dir needs a folder"; CONFIG_DIR=$2; shift 2 ;;
    --config-dir=*) CONFIG_DIR=${1#--config-dir=}; shift ;;
    -h|--help) sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    -*) fail "unknown option: $1" ;;
    *) [ -z "$MODULE" ] || fail "more than one module given: $1"; MODULE=$1; shift ;;
  esac
done

HERE=$(cd "$(dirname "$0")" && pwd)
if [ -z "$MODULE" ]; then
  for candidate in "$HERE/Tolvex.wcx" "$HERE/../build/linux/Tolvex.wcx"; do
    if [ -f "$candidate" ]; then MODULE=$candidate; break; fi
  done
  [ -n "$MODULE" ] || fail "no Tolvex.wcx beside this script or in build/linux; name the module"
fi
[ -f "$MODULE" ] || fail "no such module: $MODULE"
head -c 4 "$MODULE" | grep -q ELF || fail "not a Linux module: $MODULE"

# Double Commander's process name, for any user on this machine: reading /proc
# needs no procps.
for comm in /proc/[0-9]*/comm; do
  name=$(cat "$comm" 2>/dev/null) || continue
  # A zombie is gone already; it writes nothing.
  if [ "$name" = doublecmd ] && ! grep -q '^State:[[:space:]]*Z' "${comm%comm}status" 2>/dev/null; then
    fail "Double Commander is running; close it first (it rewrites its configuration when it closes)"
  fi
done

mkdir -p "$CONFIG_DIR" || fail "cannot create $CONFIG_DIR"
CONFIG_DIR=$(cd "$CONFIG_DIR" && pwd)
CONFIG="$CONFIG_DIR/doublecmd.xml"
PLUGIN_DIR="$CONFIG_DIR/plugins/wcx/tolvex"
TARGET="$PLUGIN_DIR/Tolvex.wcx"

# The module: replaced only when it differs, through a name beside it so a
# running file manager never sees half a file.
mkdir -p "$PLUGIN_DIR" || fail "cannot create $PLUGIN_DIR"
if ! cmp -s "$MODULE" "$TARGET"; then
  cp "$MODULE" "$TARGET.new" || fail "cannot write $TARGET.new"
  chmod 0644 "$TARGET.new"
  mv -f "$TARGET.new" "$TARGET" || fail "cannot write $TARGET"
  echo "install-doublecmd: module copied to $TARGET"
fi

xml_escape() {
  printf '%s' "$1" | sed 's/&/\&amp;/g; s/</\&lt;/g; s/>/\&gt;/g'
}
PATH_XML=$(xml_escape "$TARGET")

if [ ! -f "$CONFIG" ]; then
  cat >"$CONFIG" <<EOF || fail "cannot write $CONFIG"
<?xml version="1.0" encoding="UTF-8"?>
<doublecmd>
  <Plugins>
    <WcxPlugins>
      <WcxPlugin Enabled="True">
        <ArchiveExt>tvx</ArchiveExt>
        <Path>$PATH_XML</Path>
        <Flags>$FLAGS</Flags>
      </WcxPlugin>
    </WcxPlugins>
  </Plugins>
</doublecmd>
EOF
  echo "install-doublecmd: created $CONFIG with Tolvex registered for tvx"
  exit 0
fi

# The edit, as awk over the lines Double Commander writes (one element a line):
#   - a WcxPlugin for tvx with this Path: nothing to do (exit 3);
#   - a WcxPlugin for tvx with another Path: that Path line is replaced;
#   - otherwise the new element goes before </WcxPlugins>, or replaces
#     <WcxPlugins/>, or a WcxPlugins list goes into <Plugins> or, lacking that,
#     before </doublecmd>.
# Lines are printed as read, so the rest of the file stays byte for byte.
EDITED="$CONFIG.tolvex-new"
status=0
awk -v path="$PATH_XML" -v flags="$FLAGS" '
function element(indent) {
  return indent "<WcxPlugin Enabled=\"True\">\n" \
         indent "  <ArchiveExt>tvx</ArchiveExt>\n" \
         indent "  <Path>" path "</Path>\n" \
         indent "  <Flags>" flags "</Flags>\n" \
         indent "</WcxPlugin>\n"
}
function indent_of(line) { match(line, /^[ \t]*/); return substr(line, 1, RLENGTH) }
{ lines[NR] = $0 }
/<WcxPlugin[ >]/ { in_plugin = 1; start = NR; is_tvx = 0; path_line = 0 }
in_plugin && /<ArchiveExt>tvx<\/ArchiveExt>/ { is_tvx = 1 }
in_plugin && /<Path>/ { path_line = NR; path_text = $0 }
in_plugin && /<\/WcxPlugin>/ {
  in_plugin = 0
  if (is_tvx && !tvx_path_line) {
    tvx_path_line = path_line
    if (index(path_text, "<Path>" path "</Path>")) registered = 1
  }
}
/<\/WcxPlugins>/ && !close_line { close_line = NR }
/<WcxPlugins\/>/ && !empty_line { empty_line = NR }
/<Plugins>/ && !plugins_line { plugins_line = NR }
/<Plugins\/>/ && !plugins_empty { plugins_empty = NR }
/<\/doublecmd>/ { root_close = NR }
END {
  if (registered) exit 3
  for (i = 1; i <= NR; i++) {
    line = lines[i]
    if (tvx_path_line) {
      if (i == tvx_path_line) {
        ind = indent_of(line)
        print ind "<Path>" path "</Path>"
        continue
      }
    } else if (close_line) {
      if (i == close_line) {
        ind = indent_of(line)
        printf "%s", element(ind "  ")
      }
    } else if (empty_line) {
      if (i == empty_line) {
        ind = indent_of(line)
        pos = index(line, "<WcxPlugins/>")
        print substr(line, 1, pos - 1) "<WcxPlugins>"
        printf "%s", element(ind "  ")
        print ind "</WcxPlugins>" substr(line, pos + length("<WcxPlugins/>"))
        continue
      }
    } else if (plugins_line) {
      if (i == plugins_line) {
        print line
        ind = indent_of(line) "  "
        print ind "<WcxPlugins>"
        printf "%s", element(ind "  ")
        print ind "</WcxPlugins>"
        continue
      }
    } else if (plugins_empty) {
      if (i == plugins_empty) {
        ind = indent_of(line)
        pos = index(line, "<Plugins/>")
        print substr(line, 1, pos - 1) "<Plugins>"
        print ind "  <WcxPlugins>"
        printf "%s", element(ind "    ")
        print ind "  </WcxPlugins>"
        print ind "</Plugins>" substr(line, pos + length("<Plugins/>"))
        continue
      }
    } else if (i == root_close) {
      print "  <Plugins>"
      print "    <WcxPlugins>"
      printf "%s", element("      ")
      print "    </WcxPlugins>"
      print "  </Plugins>"
    }
    print line
  }
  if (!tvx_path_line && !close_line && !empty_line && !plugins_line && !plugins_empty && !root_close) exit 4
}' "$CONFIG" >"$EDITED" || status=$?

case $status in
  0) ;;
  3)
    rm -f "$EDITED"
    echo "install-doublecmd: Tolvex is already registered for tvx in $CONFIG"
    exit 0
    ;;
  4) rm -f "$EDITED"; fail "not a Double Commander configuration (no <doublecmd> element): $CONFIG" ;;
  *) rm -f "$EDITED"; fail "cannot edit $CONFIG" ;;
esac

# A file that ends without a newline keeps that ending (awk adds one).
if [ -n "$(tail -c 1 "$CONFIG")" ]; then
  size=$(wc -c <"$EDITED")
  head -c $((size - 1)) "$EDITED" >"$EDITED.trim" && mv -f "$EDITED.trim" "$EDITED"
fi

BACKUP="$CONFIG.tolvex-backup"
cp -p "$CONFIG" "$BACKUP" || fail "cannot write the backup $BACKUP"
chmod --reference="$CONFIG" "$EDITED" 2>/dev/null || true
mv -f "$EDITED" "$CONFIG" || fail "cannot replace $CONFIG"
echo "install-doublecmd: Tolvex registered for tvx in $CONFIG (the old file is $BACKUP)"
