#!/bin/sh
# Installs korvane as a user would, in a scratch folder, and checks it in a
# fresh Octave session (check_installed_module.m).
#   check_installation.sh package SOURCE_ROOT WORK_FOLDER OCTAVE
#       make the package archive, pkg install it into a temporary prefix, load
#   check_installation.sh build-script SOURCE_ROOT WORK_FOLDER OCTAVE
#       copy the sources to a folder whose path has spaces, run korvane_build
#       there into a relative output folder, and with no argument
set -eu
mode=$1
root=$2
work=$3
octave=$4
rm -rf "$work"
mkdir -p "$work"
checks="source('$root/tests/octave/check_installed_module.m')"
run_octave() {
  "$octave" --no-gui --norc --no-history -q --eval "$1"
}
# Installed modules carry no debug info (Octave's own flags have -g).
no_debug_info() {
  for built in "$@"; do
    if objdump -h "$built" | grep -q '\.debug_info'; then
      echo "FAILED: $built carries debug info"
      exit 1
    fi
  done
}
case $mode in
  package)
    archive=$(sh "$root/scripts/make-dist.sh" "$work/dist")
    prefix="$work/prefix"
    mkdir -p "$prefix"
    # A private prefix and package lists: nothing outside the work folder.
    setup="pkg('prefix', '$prefix', '$prefix');
           pkg('local_list', '$prefix/octave_packages');
           pkg('global_list', '$prefix/global_packages');"
    run_octave "$setup pkg('install', '-local', '$archive');"
    run_octave "$setup pkg('load', 'korvane'); expected_folder = '$prefix';
                expected_build = 'Octave package (pkg install), oct-file'; $checks"
    no_debug_info $(find "$prefix" -name '*.oct')
    # The examples, where the help says they are, run.
    run_octave "$setup pkg('load', 'korvane');
                examples = fullfile(pkg('list', 'korvane'){1}.dir, 'doc', 'examples');
                assert(numel(dir(fullfile(examples, '*.m'))) == $(ls "$root"/examples/*.m | wc -l));
                run(fullfile(examples, 'nearest_neighbour.m'))"
    help_files=$(find "$prefix" -name korvane.m | wc -l)
    if [ "$help_files" -ne 1 ]; then
      echo "FAILED: the installed package holds $help_files help files"
      exit 1
    fi
    ;;
  build-script)
    tree="$work/source tree"
    mkdir -p "$tree"
    cp -R "$root/kernels" "$root/gateway" "$root/scripts" "$root/package" "$root/korvane_build.m" \
          "$tree/"
    module="$tree/module folder"
    (cd "$tree" && run_octave "korvane_build('module folder');")
    # On x86-64 the module links the AVX-512 and AVX2 + FMA3 kernels and
    # their exact adds.
    case $(uname -m) in
      x86_64 | amd64) exact_add="--exact-add-fma ymm|zmm" ;;
      *) exact_add= ;;
    esac
    sh "$root/tests/check_arithmetic_instructions.sh" objdump $exact_add "$module/korvane.oct" \
       "$module/korvane_smallest.oct"
    no_debug_info "$module/korvane.oct" "$module/korvane_smallest.oct" "$module/korvane_info.oct"
    run_octave "addpath('$module'); expected_folder = '$module';
                expected_build = 'korvane_build, oct-file'; $checks"
    (cd "$tree" && run_octave "korvane_build();")
    for made in korvane.oct korvane_smallest.oct korvane_info.oct; do
      [ -f "$tree/gateway/$made" ] || { echo "FAILED: korvane_build() made no gateway/$made"; exit 1; }
    done
    ;;
  *)
    echo "unknown mode $mode" >&2
    exit 2
    ;;
esac
