% Octave's two entry points, end to end in one session: korvane.oct against
% the MEX module (loaded under another name, korvane_mex, from a copy),
% calls interleaved, medians of wall and CPU time; then the peak memory of
% one call with an 800 MB result, each in a fresh Octave process, as the
% growth of its peak resident set (VmHWM) over one result.
%   octave-cli --no-gui --norc --no-history -q bench/octave_entry_points.m build [repeats]
1;

function [wall, cpu] = timed(f)
  c0 = cputime();
  t0 = tic();
  f();
  wall = toc(t0);
  cpu = cputime() - c0;
end

function growth = peak_growth(folder, octave)
  % Peak resident memory growth of korvane(zeros(1,1e4)), in results.
  script = sprintf(['addpath(''%s''); hwm = @() sscanf(regexp(fileread(''/proc/self/status''), ' ...
                    '''VmHWM:\\s*(\\d+)'', ''tokens'', ''once''){1}, ''%%d''); ' ...
                    'x = zeros(1, 1e4); before = hwm(); C = korvane(x); ' ...
                    'printf(''%%.17g\\n'', (hwm() - before) * 1024 / (8 * numel(C)));'], folder);
  [status, out] = system(sprintf('"%s" --no-gui --norc --no-history -q --eval "%s"', octave, script));
  growth = NaN;
  if status == 0
    growth = str2double(out);
  end
end

args = argv();
build = 'build';
if numel(args) >= 1
  build = args{1};
end
repeats = 51;
if numel(args) >= 2
  repeats = str2double(args{2});
end
build = make_absolute_filename(build);
copy = tempname();
mkdir(copy);
copyfile(fullfile(build, 'mex', 'korvane.mex'), fullfile(copy, 'korvane_mex.mex'));
addpath(build);
addpath(copy);
printf('korvane: %s\nkorvane_mex: %s\n', which('korvane'), which('korvane_mex'));

shapes = [2 2000 2000; 3 2000 2000; 16 2000 2000; 64 1000 1000; 3 100000 8; 1024 256 256];
printf('\n%-16s %12s %12s %8s %12s %12s %8s\n', 'D, n_a, n_b', 'oct wall', 'MEX wall', 'ratio', ...
       'oct CPU', 'MEX CPU', 'ratio');
for s = 1:rows(shapes)
  a = rand(shapes(s, 1), shapes(s, 2));
  b = rand(shapes(s, 1), shapes(s, 3));
  if ~isequal(korvane(a, b), korvane_mex(a, b))
    error('the entry points disagree at %d, %d, %d', shapes(s, :));
  end
  t = zeros(repeats, 4);
  for r = 1:repeats
    % Alternate which goes first, so neither always meets the other's garbage.
    if mod(r, 2)
      [t(r, 1), t(r, 3)] = timed(@() korvane(a, b));
      [t(r, 2), t(r, 4)] = timed(@() korvane_mex(a, b));
    else
      [t(r, 2), t(r, 4)] = timed(@() korvane_mex(a, b));
      [t(r, 1), t(r, 3)] = timed(@() korvane(a, b));
    end
  end
  m = median(t, 1);
  printf('%-16s %10.2fms %10.2fms %8.2f %10.2fms %10.2fms %8.2f\n', ...
         sprintf('%d, %d, %d', shapes(s, :)), 1e3 * m(1), 1e3 * m(2), m(1) / m(2), ...
         1e3 * m(3), 1e3 * m(4), m(3) / m(4));
end
rmpath(copy);
delete(fullfile(copy, 'korvane_mex.mex'));
rmdir(copy);

octave = fullfile(OCTAVE_HOME(), 'bin', 'octave-cli');
printf('\npeak memory growth of korvane(zeros(1,1e4)), in 800 MB results:\n');
printf('  korvane.oct  %.3f\n', peak_growth(build, octave));
printf('  korvane.mex  %.3f\n', peak_growth(fullfile(build, 'mex'), octave));
