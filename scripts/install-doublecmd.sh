#!/bin/sh
# Installs the Tolvex module into Double Commander and registers it for the
# extension tvx.
#
#   install-doublecmd.sh [--config-dir DIR] [MODULE]
#
# MODULE defaults to the Tolvex.wcx beside this script (the Linux package) or
# build/linux/Tolvex.wcx (the source tree). DIR defaults to
# ~/.config/doublecmd. The module is copied to DIR/plugins/wcx/tolvex/ and a
# WcxPlugin element for it, enabled, is written into DIR/doublecmd.xml: the
# file is created when missing; when present, a tvx element already there is
# replaced (another plug-in's too, enabled or not), everything else stays byte
# for byte, the old file is kept as doublecmd.xml.tolvex-backup, and a
# doublecmd.xml that is a symbolic link stays one (the file it leads to is
# edited). A second run changes nothing. Needs python3. Refuses while Double
# Commander runs: it writes its configuration when it closes, which would undo
# the change.
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
    -h|--help) sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
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
command -v python3 >/dev/null 2>&1 || fail "python3 is needed to edit doublecmd.xml; install it"

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
# The dot keeps a newline that ends the folder's name.
CONFIG_DIR=$(cd "$CONFIG_DIR" && pwd && echo .) || fail "cannot enter $CONFIG_DIR"
CONFIG_DIR=${CONFIG_DIR%??}
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

# The edit, through Python's XML parser: it finds the elements and their byte
# offsets, and the new text is spliced in there, so the rest of the file stays
# byte for byte whatever its names or layout hold.
#   - a WcxPlugin for tvx that is enabled, with this Path and these Flags:
#     nothing to do;
#   - another WcxPlugin for tvx (another plug-in's, a disabled one): replaced;
#   - otherwise the new element goes last into WcxPlugins, making WcxPlugins in
#     Plugins and Plugins in doublecmd where missing.
python3 - "$CONFIG" "$TARGET" "$FLAGS" <<'EOF'
import os, shutil, sys
import xml.parsers.expat
from xml.sax.saxutils import escape

config, target, flags = sys.argv[1], sys.argv[2], sys.argv[3]
# A name that is no UTF-8 is shown with its bytes.
sys.stdout.reconfigure(errors="surrogateescape")
sys.stderr.reconfigure(errors="surrogateescape")

def fail(message):
    sys.stderr.write("install-doublecmd: %s\n" % message)
    sys.exit(1)

def element(indent, nl):
    lines = ['<WcxPlugin Enabled="True">',
             '  <ArchiveExt>tvx</ArchiveExt>',
             '  <Path>%s</Path>' % escape(target),
             '  <Flags>%s</Flags>' % flags,
             '</WcxPlugin>']
    # surrogateescape: a name that is no UTF-8 keeps its bytes.
    return nl.join((indent + line).encode("utf-8", "surrogateescape") for line in lines)

# A doublecmd.xml that is a link stays one: the file it leads to is written.
real = os.path.realpath(config)
if not os.path.exists(real):
    nl = b"\n"
    text = nl.join([b'<?xml version="1.0" encoding="UTF-8"?>', b"<doublecmd>", b"  <Plugins>",
                    b"    <WcxPlugins>", element("      ", nl), b"    </WcxPlugins>", b"  </Plugins>",
                    b"</doublecmd>", b""])
    try:
        with open(real, "xb") as out:
            out.write(text)
    except OSError as error:
        fail("cannot write %s: %s" % (config, error.strerror))
    print("install-doublecmd: created %s with Tolvex registered for tvx" % config)
    sys.exit(0)

try:
    with open(real, "rb") as source:
        data = source.read()
except OSError as error:
    fail("cannot read %s: %s" % (config, error.strerror))

class Node:
    def __init__(self, name, attrs, start, parent):
        self.name, self.attrs, self.start, self.parent = name, attrs, start, parent
        self.children, self.text, self.end, self.close = [], "", None, None

def tag_end(pos):
    # The offset after the tag that starts at pos ('>' may stand in quotes).
    quote = None
    while True:
        c = data[pos:pos + 1]
        if quote:
            if c == quote:
                quote = None
        elif c in (b'"', b"'"):
            quote = c
        elif c == b">":
            return pos + 1
        pos += 1

stack, roots = [], []
parser = xml.parsers.expat.ParserCreate()
def on_start(name, attrs):
    node = Node(name, attrs, parser.CurrentByteIndex, stack[-1] if stack else None)
    (stack[-1].children if stack else roots).append(node)
    stack.append(node)
def on_end(name):
    node = stack.pop()
    node.end = tag_end(node.start)
    if data[node.end - 2:node.end] != b"/>":
        node.close = parser.CurrentByteIndex
        node.end = tag_end(node.close)
def on_text(text):
    stack[-1].text += text
parser.StartElementHandler, parser.EndElementHandler = on_start, on_end
parser.CharacterDataHandler = on_text
try:
    parser.Parse(data, True)
except xml.parsers.expat.ExpatError as error:
    fail("%s is not well-formed XML (%s); not changed" % (config, error))
root = roots[0]
if root.name != "doublecmd":
    fail("not a Double Commander configuration (no <doublecmd> element): %s" % config)

def child(node, name):
    return next((c for c in node.children if c.name == name), None)
def child_text(node, name):
    found = child(node, name)
    return found.text.strip() if found else ""
def line_start(pos):
    return data.rfind(b"\n", 0, pos) + 1
def indent_of(pos):
    # The blanks before a tag that starts its line; none for any other.
    prefix = data[line_start(pos):pos]
    return "" if prefix.strip(b" \t") else prefix.decode()

nl = b"\r\n" if b"\r\n" in data else b"\n"
plugins = child(root, "Plugins")
wcx = child(plugins, "WcxPlugins") if plugins else None
tvx = next((p for p in (wcx.children if wcx else []) if p.name == "WcxPlugin" and child_text(p, "ArchiveExt") == "tvx"), None)

if tvx is not None:
    if (tvx.attrs.get("Enabled", "").lower() == "true" and child_text(tvx, "Path") == target
            and child_text(tvx, "Flags") == flags):
        print("install-doublecmd: Tolvex is already registered for tvx in %s" % config)
        sys.exit(0)
    indent = indent_of(tvx.start)
    start, end, new = tvx.start, tvx.end, element(indent, nl)[len(indent):]
else:
    # The one that gets the element, and those to make in it, outermost first.
    if wcx:
        parent, missing = wcx, []
    elif plugins:
        parent, missing = plugins, ["WcxPlugins"]
    else:
        parent, missing = root, ["Plugins", "WcxPlugins"]
    indent = indent_of(parent.start)
    inner = indent + "  "
    body = []
    for name in missing:
        body.append(("%s<%s>" % (inner, name)).encode())
        inner += "  "
    body.append(element(inner, nl))
    for name in reversed(missing):
        inner = inner[:-2]
        body.append(("%s</%s>" % (inner, name)).encode())
    body = nl.join(body) + nl
    if parent.close is None:
        # <Name/>: opened, filled and closed in its place.
        start, end = parent.start, parent.end
        new = data[start:end - 2].rstrip() + b">" + nl + body + indent.encode() + b"</" + parent.name.encode() + b">"
    elif not data[line_start(parent.close):parent.close].strip(b" \t"):
        # The closing tag starts its line: the new lines go before that line.
        start = end = line_start(parent.close)
        new = body
    else:
        start = end = parent.close
        new = nl + body + indent.encode()

edited = real + ".tolvex-new"
backup = config + ".tolvex-backup"
try:
    with open(edited, "wb") as out:
        out.write(data[:start] + new + data[end:])
    shutil.copymode(real, edited)
    shutil.copy2(real, backup)
    os.replace(edited, real)
except OSError as error:
    try:
        os.unlink(edited)
    except OSError:
        pass
    fail("cannot write %s: %s" % (error.filename or config, error.strerror))
print("install-doublecmd: Tolvex registered for tvx in %s (the old file is %s)" % (config, backup))
EOF
