#!/bin/sh
# Runs a test command on files of the third-party corpus, which is not part of
# the repository: $TARVIK_CORPUS_DIR when set, else the folder given as the
# first argument. Arguments of the form corpus:NAME become paths in it.
# Without the corpus the test is skipped (exit status 77) with the reason.
default=$1
shift
dir=${TARVIK_CORPUS_DIR:-$default}
if [ ! -d "$dir" ]; then
    echo "skipped: no corpus at $dir (set TARVIK_CORPUS_DIR)"
    exit 77
fi
for arg; do
    shift
    case $arg in
        corpus:*) arg="$dir/${arg#corpus:}" ;;
    esac
    set -- "$@" "$arg"
done
exec "$@"
