#!/usr/bin/env bash
# The library's layers: which folders a file may include, and that no layer
# below the programs talks to the console or ends the process. Prints every
# offence and exits 1 when there is one.
#   align   align only
#   stats   stats, and the plain records of align/sequence.h
#   detect  detect, align, stats
#   report  report, align, the plain records of detect/records.h and the
#           face's values (rivulon/rivulon.h: Options, Repeat)
#   rivulon the public face: every layer below it; its headers (rivulon.h,
#           genome.h, executor.h) include nothing of the project, so that they
#           are all a caller needs; detect/ may use the executor
# Programs (driver/ and every further program's folder) use the library
# through its public headers (rivulon/rivulon.h, genome.h, executor.h) and
# report/, and cli/ (what they share on the console); nothing of align/,
# stats/ or detect/, and not each other's folders. The Python module
# (python/) uses the public headers alone.
set -u
cd "$(dirname "$0")/.."

allowed_includes() {
  case "$1" in
    align) echo 'align/' ;;
    stats) echo 'stats/ align/sequence.h' ;;
    detect) echo 'detect/ align/ stats/ rivulon/executor.h' ;;
    report) echo 'report/ align/ detect/records.h rivulon/rivulon.h' ;;
    rivulon) echo 'rivulon/ align/ stats/ detect/ report/' ;;
  esac
}

failures=0
complain() { echo "layering: $*"; failures=$((failures + 1)); }

for layer in align stats detect report rivulon; do
  for file in "$layer"/*.h "$layer"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS= read -r include; do
      ok=0
      for prefix in $(allowed_includes "$layer"); do
        case "$include" in "$prefix"*) ok=1 ;; esac
      done
      [ "$ok" = 1 ] || complain "$file includes \"$include\", which the $layer layer may not use"
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")

    # Only the programs read the console, print to it or end the process;
    # report/ writes only to the page streams it opened itself.
    code=$(sed 's://.*$::' "$file")
    if grep -nE '\b(stdin|stdout|stderr|std::cin|std::cout|std::cerr)\b|\b(scanf|getchar|exit|_Exit|abort|fatal)[[:space:]]*\(|\b(std::)?(printf|puts)[[:space:]]*\(' \
        <<<"$code" >/dev/null; then
      complain "$file talks to the console or ends the process:"
      grep -nE '\b(stdin|stdout|stderr|std::cin|std::cout|std::cerr)\b|\b(scanf|getchar|exit|_Exit|abort|fatal)[[:space:]]*\(|\b(std::)?(printf|puts)[[:space:]]*\(' <<<"$code" | sed 's/^/    /'
    fi
    if [ "$layer" != report ] && grep -nE '\b(fprintf|fputs|fputc|fwrite|putc|getc|fgetc|fopen)[[:space:]]*\(' <<<"$code" >/dev/null; then
      complain "$file does file or console I/O, which only report/ and the programs do"
    fi
  done
done

for face in rivulon/rivulon.h rivulon/genome.h rivulon/executor.h; do
  if grep -qE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$face"; then
    complain "$face includes a header of the project; the public headers stand alone"
  fi
done

# cli/ holds what the programs share on the console: it prints, and uses
# nothing but itself.
for file in cli/*.h cli/*.cpp; do
  [ -e "$file" ] || continue
  while IFS= read -r include; do
    case "$include" in cli/*) ;; *) complain "$file includes \"$include\"; cli/ uses only itself" ;; esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done

# A program uses the library's face, never its insides or another program's folder.
programs="driver batch"
for program in $programs; do
  for file in "$program"/*.h "$program"/*.cpp; do
    [ -e "$file" ] || continue
    while IFS= read -r include; do
      case "$include" in
        "$program"/* | report/* | cli/* | rivulon/rivulon.h | rivulon/genome.h | rivulon/executor.h) ;;
        *) complain "$file includes \"$include\"; a program uses only the face, report/ and cli/" ;;
      esac
    done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
  done
done

# The Python module stands on the public headers alone.
for file in python/*.h python/*.cpp; do
  [ -e "$file" ] || continue
  while IFS= read -r include; do
    case "$include" in
      rivulon/rivulon.h | rivulon/genome.h | rivulon/executor.h) ;;
      *) complain "$file includes \"$include\"; the Python module uses only the public headers" ;;
    esac
  done < <(sed -n 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/\1/p' "$file")
done

if [ "$failures" -gt 0 ]; then
  echo "layering: $failures offence(s)"
  exit 1
fi
echo "layering: every include and every console call is where its layer allows"
