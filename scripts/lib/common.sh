# scripts/lib/common.sh: shared by scripts/demo, scripts/test and scripts/fuzz.

# Installs the Debian packages named as arguments that are not installed yet.
ensure_packages() {
    local missing=()
    for package in "$@"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

BUILD_PACKAGES=(cmake ninja-build g++ pkg-config)
TEST_PACKAGES=(libgtest-dev libgmock-dev nlohmann-json3-dev)
BENCH_PACKAGES=(libbenchmark-dev libmimalloc-dev librttr-dev)
FUZZ_PACKAGES=(clang libclang-rt-dev)

build_jobs() { nproc 2>/dev/null || echo 2; }

# Configures the build tree build/NAME with Ninja; the remaining arguments go to CMake. The
# output is kept in build/NAME/configure.log and shown when configuring fails.
configure() {
    local dir="build/$1"
    shift
    mkdir -p "$dir"
    if ! cmake -S . -B "$dir" -G Ninja "$@" >"$dir/configure.log" 2>&1; then
        cat "$dir/configure.log" >&2
        echo "Configuring $dir failed; the output above is in $dir/configure.log" >&2
        return 1
    fi
}

# Builds every libFuzzer target with clang in build/fuzz, the library instrumented too; the
# arguments go to CMake.
build_fuzz_targets() {
    configure fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ -DOXFIRST_TESTS=OFF \
        -DOXFIRST_EXAMPLES=OFF -DOXFIRST_BENCH=OFF "$@" -DOXFIRST_FUZZ=ON
    cmake --build build/fuzz --target fuzz_targets -j "$(build_jobs)"
}

# Runs every fuzz target of build/fuzz, sharing SECONDS (the first argument) among them; the
# remaining arguments go to libFuzzer. Each target's corpus grows in build/fuzz/corpus/TARGET
# and survives between runs; a crashing input is written to build/fuzz/ and the run fails.
run_fuzz_targets() {
    local seconds="$1"
    shift
    local targets
    mapfile -t targets <build/fuzz/fuzz/targets.txt
    local each=$((seconds / ${#targets[@]}))
    [ "$each" -ge 1 ] || each=1
    for target in "${targets[@]}"; do
        echo "--- ${target} for ${each} s"
        mkdir -p "build/fuzz/corpus/${target}"
        ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" UBSAN_OPTIONS="print_stacktrace=1" \
            "build/fuzz/fuzz/${target}" -max_total_time="${each}" -max_len=4096 -timeout=10 \
            -artifact_prefix=build/fuzz/ -print_final_stats=1 "$@" "build/fuzz/corpus/${target}" "fuzz/seeds/${target}"
    done
}
