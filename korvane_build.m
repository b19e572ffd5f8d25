function korvane_build(output_folder)
% KORVANE_BUILD  Build the korvane module from inside Octave or MATLAB.
%
%   korvane_build            compiles the kernels and the gateways and leaves
%                            the modules korvane, korvane_smallest and
%                            korvane_info (.oct in Octave, .<mexext> in
%                            MATLAB) in gateway/, beside their help files.
%                            Then: addpath('<this folder>/gateway')
%   korvane_build(folder)    leaves the modules and copies of the help files
%                            in folder instead (relative to the current folder
%                            unless absolute; made if missing).
%
%   Needs a C++17 compiler: Octave's mkoctfile, or MATLAB's mex set up with
%   "mex -setup C++" (Microsoft Visual C++, MinGW-w64, GCC or Xcode's Clang).
%   Every file is compiled with multiply-add contraction off, so that results
%   equal the plain loops to the bit, and 32-bit x86 computes in SSE2, never
%   x87; on x86-64 the AVX2 and AVX-512 variants get their own flags and the
%   running CPU picks one (with MinGW-w64, only where its assembler is from
%   binutils 2.38 or later: older ones get the portable kernels alone, and
%   the build says so); on 64-bit Arm the NEON variant runs. MATLAB
%   modules use the large-array-dims API (-R2017b). Paths may contain spaces. CMake is not needed.
%
%   The MATLAB branches are written from MATLAB's documented mex command and
%   are untested (no MATLAB on our build machines).

  root = fileparts(mfilename('fullpath'));
  kernels = fullfile(root, 'kernels');
  gateway = fullfile(root, 'gateway');
  if nargin < 1
    output_folder = gateway;
  else
    if ~exist(output_folder, 'dir')
      mkdir(output_folder);
    end
    output_folder = absolute_folder(output_folder);
  end
  in_octave = exist('OCTAVE_VERSION', 'builtin') ~= 0;
  target = build_target(in_octave);

  object_folder = tempname();
  mkdir(object_folder);
  cleanup = onCleanup(@() remove_folder(object_folder));

  % Each kernel source with the instruction-set flags it needs, for GNU-style
  % compilers and for MSVC.
  sources = {'cpu_features.cpp', '', ''; 'dispatch.cpp', '', ''; 'scalar_kernels.cpp', '', ''};
  defines = {};
  vector_units = target.x86_64;
  spill = '';
  if target.x86_64 && target.windows_gnu
    % GCC on Windows cannot align the stack beyond 16 bytes yet spills vector
    % registers with aligned moves: have the assembler emit unaligned ones.
    % Assemblers before binutils 2.38 (2022), as in MATLAB's MinGW-w64
    % add-ons, lack the option: those get the portable kernels alone.
    spill = ' -Wa,-muse-unaligned-vector-move';
    vector_units = assembler_accepts(in_octave, target, spill, object_folder);
    if ~vector_units
      fprintf(['korvane_build: the assembler does not accept%s (binutils before 2.38), ' ...
               'which the AVX2 and AVX-512 kernels need on Windows: building the portable ' ...
               'kernels only (the same results, more slowly)\n'], spill);
    end
  end
  if vector_units
    sources(end + 1, :) = {'avx2_kernels.cpp', ['-mavx2' spill], '/arch:AVX2'};
    sources(end + 1, :) = {'avx2_fma_kernels.cpp', ['-mavx2 -mfma' spill], '/arch:AVX2'};
    sources(end + 1, :) = {'avx512_kernels.cpp', ['-mavx512f' spill], '/arch:AVX512'};
    sources(end + 1, :) = {'avx512_weighted.cpp', ['-mavx512f' spill], '/arch:AVX512'};
    defines = {'-DKORVANE_HAVE_AVX2=1', '-DKORVANE_HAVE_AVX2_FMA=1', '-DKORVANE_HAVE_AVX512=1'};
  elseif target.arm64
    sources(end + 1, :) = {'neon_kernels.cpp', '', ''};
    defines = {'-DKORVANE_HAVE_NEON=1'};
  end

  objects = cell(1, size(sources, 1));
  for s = 1:size(sources, 1)
    source = fullfile(kernels, sources{s, 1});
    if target.msvc
      flags = sources{s, 3};
    else
      flags = sources{s, 2};
    end
    fprintf('compiling %s\n', sources{s, 1});
    objects{s} = compile(in_octave, target, flags, {defines{:}, ['-I' kernels]}, source, ...
                         object_folder);
  end

  fprintf('linking the module\n');
  module = link_module(in_octave, target, 'korvane', {}, root, output_folder, object_folder, ...
                       objects);
  fprintf('built %s\n', module);
  % Companion functions, each linked the same way with its own help file.
  % korvane_info needs korvane's CPU detection alone (objects{1}); its
  % version is the package's.
  module = link_module(in_octave, target, 'korvane_smallest', {}, root, output_folder, ...
                       object_folder, objects);
  fprintf('built %s\n', module);
  info_defines = {['-DKORVANE_VERSION=' package_version(root)], '-DKORVANE_ROUTE_BUILD_SCRIPT=1'};
  module = link_module(in_octave, target, 'korvane_info', info_defines, root, output_folder, ...
                       object_folder, objects(1));
  fprintf('built %s\n', module);
end

function module = link_module(in_octave, target, name, defines, root, output_folder, ...
                              object_folder, objects)
  % The module `name` from its entry point (name_oct.cpp in Octave,
  % name_gateway.cpp in MATLAB) and the kernel objects, and a copy of its
  % help file name.m beside it.
  kernels = fullfile(root, 'kernels');
  gateway = fullfile(root, 'gateway');
  help_file = fullfile(gateway, [name '.m']);
  if in_octave
    % Octave's own entry point; its doc string is the help file's text.
    module = fullfile(output_folder, [name '.oct']);
    addpath(fullfile(root, 'scripts'));
    restore_path = onCleanup(@() rmpath(fullfile(root, 'scripts')));
    korvane_help_header(help_file, fullfile(object_folder, [name '_help.hpp']));
    % Octave 7's mkoctfile does not quote the output path when linking: link
    % inside the output folder, naming the module alone. -s: no debug info.
    link = @() mkoctfile('-s', ['-I' kernels], ['-I' object_folder], defines{:}, ...
                         fullfile(gateway, [name '_oct.cpp']), objects{:}, '-o', [name '.oct']);
    with_cxxflags(arithmetic_flags(target, ''), @() in_folder(output_folder, link));
  else
    module = fullfile(output_folder, [name '.' mexext()]);
    mex(target.api, compiler_flags(target, ''), ['-I' kernels], defines{:}, ...
        fullfile(gateway, [name '_gateway.cpp']), objects{:}, '-outdir', output_folder, ...
        '-output', name);
  end
  if ~strcmp(absolute_folder(output_folder), absolute_folder(gateway))
    copyfile(help_file, output_folder);
  end
end

function version = package_version(root)
  % The Version line of package/DESCRIPTION.
  description = fileread(fullfile(root, 'package', 'DESCRIPTION'));
  version = regexp(description, '^Version: *(\S+)', 'tokens', 'once', 'lineanchors');
  if isempty(version)
    error('korvane_build: no Version line in %s', fullfile(root, 'package', 'DESCRIPTION'));
  end
  version = version{1};
end

function target = build_target(in_octave)
  % What the module is built for and with which compiler family:
  %   x86_64, x86_32, arm64  the instruction set of the host
  %   msvc            Microsoft's compiler (MATLAB on Windows only)
  %   windows_gnu     GCC on Windows: Octave's MinGW-w64, or MATLAB's
  %   api             MATLAB: the mex option for the large-array-dims API
  target = struct('x86_64', false, 'x86_32', false, 'arm64', false, 'msvc', false, ...
                  'windows_gnu', false, 'api', '');
  if in_octave
    host = computer();  % the triplet Octave was built for: x86_64-w64-mingw32
    target.x86_64 = ~isempty(regexp(host, '^(x86_64|amd64)', 'once'));
    target.x86_32 = ~isempty(regexp(host, '^i[3-6]86', 'once'));
    target.arm64 = ~isempty(regexp(host, '^(aarch64|arm64)', 'once'));  % Linux, macOS
    target.windows_gnu = ~isempty(regexp(host, 'mingw|cygwin', 'once'));
  else
    arch = computer('arch');
    target.x86_64 = any(strcmp(arch, {'win64', 'glnxa64', 'maci64'}));
    target.x86_32 = any(strcmp(arch, {'win32', 'glnx86', 'maci'}));
    target.arm64 = strcmp(arch, 'maca64');
    if ispc()
      compiler = mex.getCompilerConfigurations('C++', 'Selected');
      if isempty(compiler)
        error('korvane_build: no C++ compiler is selected; run "mex -setup C++" first');
      end
      target.windows_gnu = strcmp(compiler(1).Manufacturer, 'GNU') || ...
                           ~isempty(strfind(lower(compiler(1).ShortName), 'mingw'));
      target.msvc = ~target.windows_gnu;
    end
    % -R2017b exists from R2018a (MATLAB 9.4) on; before it, the same API is
    % -largeArrayDims.
    release = sscanf(version(), '%d.%d');
    if release(1) > 9 || (release(1) == 9 && release(2) >= 4)
      target.api = '-R2017b';
    else
      target.api = '-largeArrayDims';
    end
  end
end

function object = compile(in_octave, target, isa_flags, options, source, object_folder)
  [~, name] = fileparts(source);
  if in_octave
    object = fullfile(object_folder, [name '.o']);
    with_cxxflags(arithmetic_flags(target, isa_flags), ...
                  @() mkoctfile('-c', options{:}, source, '-o', object));
  else
    mex(target.api, '-c', compiler_flags(target, isa_flags), options{:}, source, ...
        '-outdir', object_folder);
    % .obj or .o, as the compiler configuration names it.
    found = dir(fullfile(object_folder, [name '.*']));
    object = fullfile(object_folder, found(1).name);
  end
end

function accepted = assembler_accepts(in_octave, target, option, object_folder)
  % Whether one line of C++ compiles with option, whatever the compiler says.
  probe = fullfile(object_folder, 'assembler_probe.cpp');
  fid = fopen(probe, 'w');
  fprintf(fid, 'int korvane_assembler_probe() { return 0; }\n');
  fclose(fid);
  try
    evalc('compile(in_octave, target, option, {}, probe, object_folder);');
    accepted = true;
  catch
    accepted = false;
  end
end

function flags = gnu_flags(target, isa_flags)
  flags = '-std=c++17 -O3 -ffp-contract=off -fno-fast-math';
  if target.x86_32
    flags = [flags ' -msse2 -mfpmath=sse'];
  end
  flags = [flags ' ' isa_flags];
end

function flags = arithmetic_flags(target, isa_flags)
  % Octave: mkoctfile takes extra compiler flags from CXXFLAGS. Octave's own
  % go without their debug info (-g): a module as users expect one.
  octave_flags = strsplit(strtrim(strrep(mkoctfile('-p', 'CXXFLAGS'), sprintf('\n'), ' ')), ' ');
  octave_flags = octave_flags(~ismember(octave_flags, {'-g', '-g1', '-g2', '-g3', '-ggdb'}));
  flags = [strjoin(octave_flags, ' ') ' ' gnu_flags(target, isa_flags)];
end

function flag = compiler_flags(target, isa_flags)
  % MATLAB. MSVC before Visual Studio 2022 17.0 contracts under /fp:precise;
  % every arithmetic source turns that off itself (exact_arithmetic.hpp).
  if target.msvc
    flag = ['COMPFLAGS=$COMPFLAGS /std:c++17 /fp:precise ' isa_flags];
    if target.x86_32
      flag = [flag ' /arch:SSE2'];
    end
  else
    flag = ['CXXFLAGS=$CXXFLAGS ' gnu_flags(target, isa_flags)];
  end
end

function with_cxxflags(flags, action)
  previous = getenv('CXXFLAGS');
  setenv('CXXFLAGS', flags);
  restore = onCleanup(@() setenv('CXXFLAGS', previous));
  action();
end

function in_folder(folder, action)
  previous = pwd();
  cd(folder);
  restore = onCleanup(@() cd(previous));
  action();
end

function folder = absolute_folder(folder)
  % The folder made absolute against the current one (which must exist).
  previous = pwd();
  cd(folder);
  folder = pwd();
  cd(previous);
end

function remove_folder(folder)
  if exist(folder, 'dir')
    rmdir(folder, 's');
  end
end
