#!/usr/bin/env bash
# Fails when code outside the platform layer uses the unbounded C string calls or atoi,
# or when an OS header is included outside the platform layer (the program's own start in
# src/main/ aside: WinMain's signature needs <windows.h>).
cd "$(dirname "$0")/.."
status=0
hits=$(grep -rnE '\b(strcpy|strcat|sprintf|atoi)\s*\(' src tools --include='*.cpp' --include='*.h' \
       | grep -v '^src/platform/' || true)
if [ -n "$hits" ]; then
  echo "unbounded string calls outside src/platform:"; echo "$hits"; status=1
fi
hits=$(grep -rnE '#\s*include\s*<(windows|unistd|fcntl|pthread|dlfcn)\.h>' src --include='*.cpp' --include='*.h' \
       | grep -v '^src/platform/' | grep -v '^src/main/' || true)
if [ -n "$hits" ]; then
  echo "OS headers outside src/platform:"; echo "$hits"; status=1
fi
[ $status = 0 ] && echo "no banned calls"
exit $status
