# Sourced by bench/run and bench/syscalls: the build of the two programs and the tree cache.
# Its variables are read by the scripts that source it.
# shellcheck shell=bash disable=SC2034

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=${TRASKO_BUILD_DIR:-$repo/build}
work=${TRASKO_BENCH_WORK:-$repo/build/bench-data}
all_trees=(small large deep mixed sparse huge flat small1k mixed100 large500)

die() {
    echo "bench: $*" >&2
    exit 1
}

note() {
    echo "bench: $*" >&2
}

need_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || die "$tool is missing; 'bash tools/setup.sh' installs it"
    done
}

# Builds only what the benchmark needs, so a broken area elsewhere does not stop it. A build
# folder made here is configured as tools/setup.sh configures it.
build_bench() {
    if [ ! -f "$build_dir/CMakeCache.txt" ]; then
        note "configuring $build_dir"
        cmake -S "$repo" -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    local type
    type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build_dir/CMakeCache.txt")
    case $type in
    Release | RelWithDebInfo) ;;
    *) note "warning: $build_dir is a '${type:-no type}' build; timings of an unoptimised engine mean little" ;;
    esac
    cmake --build "$build_dir" --target trasko_bench trasko_treegen >/dev/null ||
        die "building trasko_bench failed; run: cmake --build $build_dir --target trasko_bench"
    bench_bin=$build_dir/bench/trasko_bench
    treegen_bin=$build_dir/bench/trasko_treegen
}

# ensure_tree NAME [MIB]: generates a tree into the cache once; a new generator version or
# another size of the sparse file replaces the cached copy.
ensure_tree() {
    local tree=$1 version stamp
    version=$("$treegen_bin" --version)${2:+ $2}
    stamp=$work/trees/$tree.version
    if [ -d "$work/trees/$tree" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$version" ]; then
        return
    fi
    mkdir -p "$work/trees"
    rm -rf "$work/trees/$tree" "$stamp"
    note "generating the $tree tree (once)"
    "$treegen_bin" "$tree" "$work/trees/$tree" "${@:2}" >&2 || die "could not generate the $tree tree"
    echo "$version" >"$stamp"
}

# split_list ARRAY "small,large" "small large deep": fills ARRAY, refusing unknown names.
split_list() {
    local -n into=$1
    local list=$2 known=$3 item
    IFS=, read -r -a into <<<"$list"
    ((${#into[@]})) || die "empty list"
    for item in "${into[@]}"; do
        [[ " $known " == *" $item "* ]] || die "unknown name '$item' (known: $known)"
    done
}

# Prints the value of key=value in a trasko_bench result line.
result_field() {
    sed -n "s/^result .*\\b$2=\\([^ ]*\\).*/\\1/p" "$1"
}
