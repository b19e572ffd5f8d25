% korvane_build's compiler flags for hosts this machine is not: 32-bit x86
% Linux and Windows, 64-bit Windows (MinGW-w64, with an assembler that takes
% -muse-unaligned-vector-move and with one that does not), ARM. A stand-in
% computer() names the host and a stand-in mkoctfile records each call
% instead of compiling (failing, for the older assembler, where that option
% is passed), so only the choice of sources and flags is checked here; the
% real build is checked by check_installation.sh. The package's Makefile is
% checked for the same choice of kernels. Exits with status 1 on any failure.
%   octave-cli --no-gui --norc --no-history -q tests/octave/check_build_flags.m SOURCE_ROOT
1;

function write_file(name, text)
  fid = fopen(name, 'w');
  fprintf(fid, '%s\n', text);
  fclose(fid);
end

function [calls, printed] = build_for(root, host, old_assembler)
  global korvane_fake_host korvane_fake_calls korvane_fake_old_assembler
  korvane_fake_host = host;
  korvane_fake_calls = {};
  korvane_fake_old_assembler = nargin > 2 && old_assembler;
  output = tempname();
  printed = evalc('korvane_build(output)');
  rmdir(output, 's');
  calls = korvane_fake_calls;
end

function flags = flags_for(calls, source)
  % CXXFLAGS of the call that compiles source, or '' if none does.
  flags = '';
  for n = 1:numel(calls)
    if any(strcmp(calls{n}.args{1}, '-c')) && ...
       any(~cellfun(@isempty, regexp(calls{n}.args, [source '$'], 'once')))
      flags = calls{n}.cxxflags;
    end
  end
end

function ok = any_has(calls, flag)
  ok = false;
  for n = 1:numel(calls)
    ok = ok || ~isempty(strfind(calls{n}.cxxflags, flag)) || any(strcmp(calls{n}.args, flag));
  end
end

function ok = all_have(calls, flag)
  ok = numel(calls) > 0;
  for n = 1:numel(calls)
    ok = ok && ~isempty(strfind(calls{n}.cxxflags, flag));
  end
end

global korvane_fake_host korvane_fake_calls korvane_fake_old_assembler
args = argv();
root = args{1};
stand_ins = tempname();
mkdir(stand_ins);
write_file(fullfile(stand_ins, 'computer.m'), ...
           'function c = computer (varargin) global korvane_fake_host; c = korvane_fake_host; end');
write_file(fullfile(stand_ins, 'mkoctfile.m'), ...
           ['function out = mkoctfile (varargin) ' ...
            'global korvane_fake_calls korvane_fake_old_assembler; out = ""; ' ...
            'if (! strcmp (varargin{1}, "-p")) korvane_fake_calls{end+1} = ' ...
            'struct ("cxxflags", getenv ("CXXFLAGS"), "args", {varargin}); ' ...
            'if (korvane_fake_old_assembler && ' ...
            '! isempty (strfind (getenv ("CXXFLAGS"), "-Wa,-muse-unaligned-vector-move"))) ' ...
            'error ("as: unrecognized option"); end; end; end']);
warning('off', 'Octave:shadowed-function');
addpath(root);
addpath(stand_ins);

global failures
failures = 0;
function check(condition, what)
  global failures
  if ~condition
    printf('FAILED: %s\n', what);
    failures = failures + 1;
  end
end

has = @(flags, flag) ~isempty(strfind(flags, flag));
spill = '-Wa,-muse-unaligned-vector-move';
for host = {'i686-pc-linux-gnu', 'i686-w64-mingw32'}
  calls = build_for(root, host{1});
  check(all_have(calls, '-ffp-contract=off'), [host{1} ': no contraction']);
  check(all_have(calls, '-msse2 -mfpmath=sse'), [host{1} ': SSE2, not x87']);
  check(isempty(flags_for(calls, 'avx2_kernels.cpp')), [host{1} ': no AVX2']);
  check(~any_has(calls, spill), [host{1} ': no assembler option, nor a probe for it']);
end

[calls, printed] = build_for(root, 'x86_64-w64-mingw32');
check(all_have(calls, '-ffp-contract=off'), 'mingw x86-64: no contraction');
check(~has(printed, 'does not accept'), 'mingw x86-64: the assembler option accepted');
check(has(flags_for(calls, 'avx2_kernels.cpp'), ['-mavx2 ' spill]), ...
      'mingw x86-64: AVX2 with unaligned spills');
for source = {'avx512_kernels.cpp', 'avx512_weighted.cpp'}
  check(has(flags_for(calls, source{1}), ['-mavx512f ' spill]), ...
        ['mingw x86-64: AVX-512 with unaligned spills in ' source{1}]);
end
scalar = flags_for(calls, 'scalar_kernels.cpp');
check(~isempty(scalar) && ~has(scalar, '-mavx') && ~has(scalar, '-Wa,'), ...
      'mingw x86-64: scalar kernels without instruction-set flags');

% An assembler before binutils 2.38: the portable kernels only, said once.
[calls, printed] = build_for(root, 'x86_64-w64-mingw32', true);
check(isempty(flags_for(calls, 'avx2_kernels.cpp')) && ...
      isempty(flags_for(calls, 'avx512_weighted.cpp')) && ...
      ~any_has(calls, '-DKORVANE_HAVE_AVX2=1'), ...
      'older mingw assembler: no AVX2 or AVX-512 units');
check(~isempty(flags_for(calls, 'scalar_kernels.cpp')) && ...
      any(cellfun(@(c) any(strcmp(c.args, 'korvane.oct')), calls)), ...
      'older mingw assembler: the portable kernels, linked');
check(numel(regexp(printed, ['does not accept ' spill ...
                            ' \(binutils before 2.38\)[^\n]*portable'])) == 1, ...
      'older mingw assembler: one line says why');

calls = build_for(root, 'x86_64-pc-linux-gnu');
avx2 = flags_for(calls, 'avx2_kernels.cpp');
check(has(avx2, '-mavx2') && ~has(avx2, '-Wa,'), 'linux x86-64: AVX2, aligned spills allowed');
check(~has(avx2, '-mfma') && has(flags_for(calls, 'avx2_fma_kernels.cpp'), '-mavx2 -mfma'), ...
      'linux x86-64: FMA3 for the AVX2 + FMA3 variant alone');
check(~has(calls{1}.cxxflags, '-msse2'), 'linux x86-64: no 32-bit flags');
check(isempty(flags_for(calls, 'neon_kernels.cpp')), 'linux x86-64: no NEON');

calls = build_for(root, 'aarch64-unknown-linux-gnu');
check(all_have(calls, '-ffp-contract=off'), 'aarch64: no contraction');
check(isempty(flags_for(calls, 'avx2_kernels.cpp')) && ~has(calls{1}.cxxflags, '-msse2'), ...
      'aarch64: no x86 flags');
check(~isempty(flags_for(calls, 'neon_kernels.cpp')), 'aarch64: NEON kernels');

% The package's Makefile makes the same choice: a stand-in mkoctfile (a
% shell script) names the host and, for the older assembler, fails where the
% option is passed; make then shows the kernels it would build.
write_file(fullfile(stand_ins, 'mkoctfile.sh'), ...
           strjoin({'if [ "$1" = -p ]; then [ "$2" = CANONICAL_HOST_TYPE ] && echo "$FAKE_HOST"; exit 0; fi', ...
                    'case "$CXXFLAGS" in *-muse-unaligned-vector-move*) exit "$FAKE_OLD_ASSEMBLER";; esac'}, ...
                   "\n"));
function [kernels, said] = package_kernels(root, stand_ins, host, old_assembler)
  work = tempname();
  mkdir(work);
  [~, kernels] = system(sprintf(['cd "%s" && FAKE_HOST=%s FAKE_OLD_ASSEMBLER=%d make -s -f "%s" ' ...
                                 'MKOCTFILE="sh %s" --eval ''show: ; @echo $(KERNELS)'' show ' ...
                                 '2> stderr.txt'], work, host, old_assembler, ...
                                fullfile(root, 'package', 'src', 'Makefile'), ...
                                fullfile(stand_ins, 'mkoctfile.sh')));
  said = fileread(fullfile(work, 'stderr.txt'));
  rmdir(work, 's');
end
[kernels, said] = package_kernels(root, stand_ins, 'x86_64-w64-mingw32', 1);
check(~has(kernels, 'avx') && has(kernels, 'scalar') && ...
      numel(strfind(said, ['does not accept ' spill])) == 1, ...
      'package, older mingw assembler: the portable kernels only, said once');
for host = {'x86_64-w64-mingw32', 'x86_64-pc-linux-gnu'}
  [kernels, said] = package_kernels(root, stand_ins, host{1}, 0);
  check(has(kernels, 'avx512_weighted') && isempty(said), ['package, ' host{1} ': the AVX units']);
end

rmdir(stand_ins, 's');
printf('korvane_build flags for six hosts, the package for three: %d failed\n', failures);
exit(failures > 0);
