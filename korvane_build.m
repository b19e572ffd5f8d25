function korvane_build(output_folder)
% KORVANE_BUILD  Build the korvane module from inside Octave or MATLAB.
%
%   korvane_build            compiles the kernels and the gateway and leaves
%                            the module (korvane.mex in Octave, korvane.<mexext>
%                            in MATLAB) in gateway/, beside the help file
%                            korvane.m. Then: addpath('<this folder>/gateway')
%   korvane_build(folder)    leaves the module and a copy of the help file in
%                            folder instead.
%
%   Needs a C++17 compiler: Octave's mkoctfile, or MATLAB's mex set up with
%   "mex -setup C++". Every file is compiled with multiply-add contraction off,
%   so that results equal the plain loops to the bit; on x86-64 the AVX2 and
%   AVX-512 variants get their own flags and the running CPU picks one; on
%   64-bit Arm the NEON variant runs. CMake is not needed.
%
%   The MATLAB branch is written from MATLAB's documented mex command and is
%   untested (no MATLAB on our build machines).

  root = fileparts(mfilename('fullpath'));
  kernels = fullfile(root, 'kernels');
  gateway = fullfile(root, 'gateway');
  if nargin < 1
    output_folder = gateway;
  elseif ~exist(output_folder, 'dir')
    mkdir(output_folder);
  end
  in_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  msvc = ~in_octave && ispc();

  % Each kernel source with the instruction-set flags it needs.
  sources = {'cpu_features.cpp', '', ''; 'dispatch.cpp', '', ''; 'scalar_kernels.cpp', '', ''};
  defines = {};
  if is_x86_64(in_octave)
    sources(end + 1, :) = {'avx2_kernels.cpp', '-mavx2', '/arch:AVX2'};
    sources(end + 1, :) = {'avx512_kernels.cpp', '-mavx512f', '/arch:AVX512'};
    defines = {'-DKORVANE_HAVE_AVX2=1', '-DKORVANE_HAVE_AVX512=1'};
  elseif is_arm64(in_octave)
    sources(end + 1, :) = {'neon_kernels.cpp', '', ''};
    defines = {'-DKORVANE_HAVE_NEON=1'};
  end

  object_folder = tempname();
  mkdir(object_folder);
  cleanup = onCleanup(@() remove_folder(object_folder));
  objects = cell(1, size(sources, 1));
  for s = 1:size(sources, 1)
    source = fullfile(kernels, sources{s, 1});
    [~, name] = fileparts(source);
    if msvc
      objects{s} = fullfile(object_folder, [name '.obj']);
      flags = sources{s, 3};
    else
      objects{s} = fullfile(object_folder, [name '.o']);
      flags = sources{s, 2};
    end
    fprintf('compiling %s\n', sources{s, 1});
    compile(in_octave, msvc, flags, {defines{:}, ['-I' kernels]}, source, objects{s});
  end

  fprintf('linking the module\n');
  if in_octave
    module = fullfile(output_folder, 'korvane.mex');
    with_cxxflags(arithmetic_flags(''), @() mkoctfile('--mex', ['-I' kernels], ...
                  fullfile(gateway, 'korvane_gateway.cpp'), objects{:}, '-o', module));
  else
    module = fullfile(output_folder, ['korvane.' mexext()]);
    mex(compiler_flags(msvc, ''), ['-I' kernels], fullfile(gateway, 'korvane_gateway.cpp'), ...
        objects{:}, '-outdir', output_folder, '-output', 'korvane');
  end
  help_file = fullfile(gateway, 'korvane.m');
  if ~strcmp(fullfile(output_folder, 'korvane.m'), help_file)
    copyfile(help_file, output_folder);
  end
  fprintf('built %s\n', module);
end

function compile(in_octave, msvc, isa_flags, options, source, object)
  if in_octave
    with_cxxflags(arithmetic_flags(isa_flags), ...
                  @() mkoctfile('-c', options{:}, source, '-o', object));
  else
    mex('-c', compiler_flags(msvc, isa_flags), options{:}, source, '-outdir', fileparts(object));
  end
end

function flags = arithmetic_flags(isa_flags)
  % Octave: mkoctfile takes extra compiler flags from CXXFLAGS.
  flags = [mkoctfile('-p', 'CXXFLAGS') ' -std=c++17 -O3 -ffp-contract=off -fno-fast-math ' ...
           isa_flags];
  flags = strrep(flags, sprintf('\n'), ' ');
end

function flag = compiler_flags(msvc, isa_flags)
  % MATLAB: MSVC's /fp:precise neither contracts nor keeps excess precision.
  if msvc
    flag = ['COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise ' isa_flags];
  else
    flag = ['CXXFLAGS=$CXXFLAGS -std=c++17 -O3 -ffp-contract=off -fno-fast-math ' isa_flags];
  end
end

function with_cxxflags(flags, action)
  previous = getenv('CXXFLAGS');
  setenv('CXXFLAGS', flags);
  restore = onCleanup(@() setenv('CXXFLAGS', previous));
  action();
end

function yes = is_x86_64(in_octave)
  if in_octave
    yes = ~isempty(regexp(computer(), '^(x86_64|amd64)', 'once'));
  else
    yes = any(strcmp(computer('arch'), {'win64', 'glnxa64', 'maci64'}));
  end
end

function yes = is_arm64(in_octave)
  % Octave: e.g. aarch64-unknown-linux-gnu, aarch64-apple-darwin23.
  if in_octave
    yes = ~isempty(regexp(computer(), '^(aarch64|arm64)', 'once'));
  else
    yes = strcmp(computer('arch'), 'maca64');
  end
end

function remove_folder(folder)
  if exist(folder, 'dir')
    rmdir(folder, 's');
  end
end
