#!/bin/sh
# Runs a test program in the 144 DPI prefix, on that prefix's own X display when scripts/test.sh
# made one (WEXLOR_DISPLAY144).
[ -n "$WEXLOR_DISPLAY144" ] && export DISPLAY="$WEXLOR_DISPLAY144"
exec sh "$(dirname "$0")/../../scripts/wine-run.sh" "$@"
