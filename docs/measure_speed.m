% Time of korvane against the plain loops (compiled as a second MEX module),
% the GEMM idiom and the broadcasting idiom, for 1000 x 1000 results as D
% grows, on one core. Writes one row per D to the file named on the command
% line: D, then the best of several times in ms for korvane, plain loops,
% GEMM and broadcasting (NaN where broadcasting would need over 250 MB), as
% CPU time on one core (single-thread BLAS: CPU time is then the call's). The
% GEMM idiom's time is the BLAS's: the header names the BLAS and the CPU, and
% make_charts.sh runs this on single-thread OpenBLAS:
%   scripts/with-openblas.sh octave-cli --no-gui --norc --no-history -q docs/measure_speed.m build docs/speed.dat
args = argv();
build = args{1};
output = args{2};
addpath(build);
addpath(fullfile(build, 'bench'));
addpath(fileparts(mfilename('fullpath')));
machine = describe_machine();
printf('%s', machine);

% The least CPU time of several calls: on a shared machine, time spent
% waiting for the core is not the call's.
function t = best_ms(f, repeats)
  t = Inf;
  for r = 1:repeats
    start = cputime();
    f();
    t = min(t, 1e3 * (cputime() - start));
  end
end

rand('seed', 2);
n = 1000;
gemm = @(a, b) sum(a .^ 2, 1)' + sum(b .^ 2, 1) - 2 * (a' * b);
broadcast = @(a, b) squeeze(sum((permute(a, [2 3 1]) - permute(b, [3 2 1])) .^ 2, 3));
dims = [2 3 4 8 16 32 64 128 256 512];
results = zeros(numel(dims), 5);
for s = 1:numel(dims)
  D = dims(s);
  a = rand(D, n);
  b = rand(D, n);
  tb = NaN;
  if D * n * n * 8 <= 250e6
    tb = best_ms(@() broadcast(a, b), 2);
  end
  results(s, :) = [D, best_ms(@() korvane(a, b), 7), best_ms(@() plain_loops(a, b), 3), ...
                   best_ms(@() gemm(a, b), 7), tb];
end
fid = fopen(output, 'w');
fprintf(fid, '# %d x %d results, one core; least CPU time of several calls, in ms\n', n, n);
fprintf(fid, '%s', machine);
fprintf(fid, '# D korvane plain_loops gemm broadcast\n');
fprintf(fid, '%d %.4f %.4f %.4f %.4f\n', results');
fclose(fid);
printf('%6s %10s %10s %10s %10s %9s %9s\n', 'D', 'korvane', 'loops', 'GEMM', 'broadcast', ...
       'x loops', 'x GEMM');
printf('%6d %8.3fms %8.3fms %8.3fms %8.3fms %8.1fx %8.1fx\n', ...
       [results, results(:, 3) ./ results(:, 2), results(:, 4) ./ results(:, 2)]');
