% korvane against the alternatives, end to end in one Octave session, one core:
% the plain loops as a MEX module, the GEMM idiom and the broadcasting idiom;
% and the weighted form against its expansion into matrix products.
% The "write" column is the same module only creating the result and writing
% each entry once: the host's share, which no module can go below.
% Contenders take turns within each round, and each figure is the median of
% its rounds in CPU time (one thread throughout), so that a shared machine's
% load falls on all of them alike and time slices lost to it do not count.
%
% Run the idioms on single-thread OpenBLAS (Debian's reference BLAS is far
% slower and no fair opponent); scripts/with-openblas.sh loads it for this
% one command without changing the system's default BLAS:
%   scripts/with-openblas.sh octave-cli --no-gui --norc --no-history -q bench/octave_bench.m build
1;

% Median CPU time of each function handle in fs over the given rounds, the
% contenders interleaved.
function t = median_times(fs, rounds)
  times = zeros(rounds, numel(fs));
  for r = 1:rounds
    for f = 1:numel(fs)
      start = cputime();
      fs{f}();
      times(r, f) = cputime() - start;
    end
  end
  t = median(times, 1);
end

args = argv();
build = 'build';
if numel(args) >= 1
  build = args{1};
end
addpath(build);
addpath(fullfile(build, 'bench'));
printf('BLAS: %s\n', strtrim(version('-blas')));
if isempty(getenv('OPENBLAS_NUM_THREADS'))
  printf('note: run through scripts/with-openblas.sh for a one-core comparison on OpenBLAS\n');
end

gemm = @(a, b) sum(a .^ 2, 1)' + sum(b .^ 2, 1) - 2 * (a' * b);
broadcast = @(a, b) squeeze(sum((permute(a, [2 3 1]) - permute(b, [3 2 1])) .^ 2, 3));
shapes = [2 2000 2000; 3 2000 2000; 16 2000 2000; 64 1000 1000; 256 500 500;
          1024 256 256; 3 100000 8; 128 20000 16; 512 2000 2000; 1024 2000 2000];
printf('\n%-20s %10s %10s %10s %10s %10s %9s %9s\n', 'D, n_a, n_b', 'write', 'korvane', ...
       'loops', 'GEMM', 'broadcast', 'x loops', 'x GEMM');
for s = 1:rows(shapes)
  D = shapes(s, 1); na = shapes(s, 2); nb = shapes(s, 3);
  a = rand(D, na);
  b = rand(D, nb);
  steps = D * na * nb;
  rounds = 7;
  if steps > 1e9
    rounds = 5;
  end
  fs = {@() plain_loops(a, b, 'write'), @() korvane(a, b), @() gemm(a, b)};
  t = median_times(fs, rounds);
  tw = t(1); tk = t(2); tg = t(3);
  % The slow contenders get fewer rounds, and none where they take seconds.
  tl = NaN;
  if steps <= 1e9
    tl = median_times({@() plain_loops(a, b)}, 3);
  end
  tb = NaN;
  if steps <= 2e8
    tb = median_times({@() broadcast(a, b)}, 1);
  end
  printf('%-20s %8.2fms %8.2fms %8.2fms %8.2fms %8.2fms %8.1fx %8.2fx\n', ...
         sprintf('%d, %d, %d', D, na, nb), 1e3 * [tw tk tl tg tb], tl / tk, tg / tk);
end

% c(k) = sum_i sum_j Q(i,j) (a(k,i) - b(k,j))^2 expanded into three matrix
% products; it loses every digit once the points sit far from the origin.
expansion = @(a, b, Q) (a .^ 2) * sum(Q, 2) - 2 * sum(a .* (b * Q'), 2) + (b .^ 2) * sum(Q, 1)';
weighted_shapes = [3 2000 2000; 16 1000 1000; 64 500 500; 256 300 300];
printf('\n%-20s %10s %10s %11s\n', 'weighted D, n_a, n_b', 'korvane', 'expansion', 'x expansion');
for s = 1:rows(weighted_shapes)
  D = weighted_shapes(s, 1); na = weighted_shapes(s, 2); nb = weighted_shapes(s, 3);
  a = rand(D, na);
  b = rand(D, nb);
  Q = rand(na, nb);
  t = median_times({@() korvane(a, b, Q), @() expansion(a, b, Q)}, 9);
  printf('%-20s %8.2fms %8.2fms %10.2fx\n', sprintf('%d, %d, %d', D, na, nb), 1e3 * t, ...
         t(2) / t(1));
end
