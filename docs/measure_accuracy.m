% Accuracy of the GEMM idiom against korvane as the data move away from the
% origin: random points in a unit cube shifted by a growing offset. Writes one
% row per offset to the file named on the command line:
%   offset  GEMM_largest_error  GEMM_negative_entries  GEMM_nonzero_self
%   korvane_negative_entries  korvane_nonzero_self
% korvane is the reference: with an offset of at least 1 all coordinates lie
% within a factor of two of each other, so every difference is exact and
% korvane's only rounding is that of the squares and the D-term sums, a few
% units in the last place of each distance. The GEMM idiom's counts depend on
% the BLAS (the order of its sums), so the file's header names the BLAS and
% the CPU; make_charts.sh runs this on single-thread OpenBLAS:
%   scripts/with-openblas.sh octave-cli --no-gui --norc --no-history -q docs/measure_accuracy.m build docs/accuracy.dat
args = argv();
addpath(args{1});
addpath(fileparts(mfilename('fullpath')));
output = args{2};
machine = describe_machine();
printf('%s', machine);

rand('seed', 1);
D = 16;
n = 400;
unit = rand(D, n);
gemm = @(a, b) sum(a .^ 2, 1)' + sum(b .^ 2, 1) - 2 * (a' * b);
offsets = 10 .^ (0:0.5:8);
results = zeros(numel(offsets), 6);
for s = 1:numel(offsets)
  x = unit + offsets(s);
  k = korvane(x);
  g = gemm(x, x);
  results(s, :) = [offsets(s), max(abs(g(:) - k(:))), nnz(g < 0), nnz(diag(g) ~= 0), ...
                   nnz(k < 0), nnz(diag(k) ~= 0)];
end
fid = fopen(output, 'w');
fprintf(fid, '# %d random points in %d dimensions, in a unit cube shifted by offset\n', n, D);
fprintf(fid, '%s', machine);
fprintf(fid, '# offset gemm_max_error gemm_negative gemm_nonzero_self korvane_negative korvane_nonzero_self\n');
fprintf(fid, '%g %.6g %d %d %d %d\n', results');
fclose(fid);
printf('%12s %14s %10s %10s %10s %10s\n', 'offset', 'GEMM max err', 'GEMM <0', 'GEMM self', ...
       'k <0', 'k self');
printf('%12g %14.4g %10d %10d %10d %10d\n', results');
