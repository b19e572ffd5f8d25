% korvane against the alternatives, end to end in one Octave session, one core:
% the plain loops as a MEX module, the GEMM idiom and the broadcasting idiom.
% The "write" column is the same module only creating the result and writing
% each entry once: the host's share, which no module can go below.
%   OPENBLAS_NUM_THREADS=1 octave-cli --no-gui --norc --no-history -q bench/octave_bench.m build
1;

function t = best_time(f, repeats)
  t = Inf;
  for r = 1:repeats
    tic;
    f();
    t = min(t, toc);
  end
end

args = argv();
build = 'build';
if numel(args) >= 1
  build = args{1};
end
addpath(build);
addpath(fullfile(build, 'bench'));
if isempty(getenv('OPENBLAS_NUM_THREADS'))
  printf('note: set OPENBLAS_NUM_THREADS=1 for a one-core comparison\n');
end

gemm = @(a, b) sum(a .^ 2, 1)' + sum(b .^ 2, 1) - 2 * (a' * b);
broadcast = @(a, b) squeeze(sum((permute(a, [2 3 1]) - permute(b, [3 2 1])) .^ 2, 3));
shapes = [2 2000 2000; 3 2000 2000; 16 2000 2000; 64 1000 1000; 256 500 500;
          1024 256 256; 3 100000 8; 128 20000 16];
printf('%-20s %10s %10s %10s %10s %10s %9s %9s\n', 'D, n_a, n_b', 'write', 'korvane', 'loops', ...
       'GEMM', 'broadcast', 'x loops', 'x GEMM');
for s = 1:rows(shapes)
  D = shapes(s, 1); na = shapes(s, 2); nb = shapes(s, 3);
  a = rand(D, na);
  b = rand(D, nb);
  tw = best_time(@() plain_loops(a, b, 'write'), 5);
  tk = best_time(@() korvane(a, b), 5);
  tl = best_time(@() plain_loops(a, b), 3);
  tg = best_time(@() gemm(a, b), 5);
  if D * na * nb <= 2e8
    tb = best_time(@() broadcast(a, b), 1);
  else
    tb = NaN;
  end
  printf('%-20s %8.2fms %8.2fms %8.2fms %8.2fms %8.2fms %8.1fx %8.1fx\n', ...
         sprintf('%d, %d, %d', D, na, nb), 1e3 * [tw tk tl tg tb], tl / tk, tg / tk);
end
