% More than one core. korvane itself runs on one thread, but the entries of
% korvane(a, b) are independent of one another: split the columns of b into
% blocks, compute the blocks in separate processes, put them side by side
% again, and the result is the very same bits as one call, whatever the
% number of processes or blocks. (The weighted form korvane(a, b, Q) adds
% every pair's term into c(k) in one fixed order, i outermost, so it cannot
% be split like this and keep its bits.)
% Uses Octave's parallel package (Debian: octave-parallel) when it is
% installed; without it, the same blocks are computed one after another.
%
% Does it pay? For a full matrix, not on the machine we measured it on
% (bench/parallel_recipe.m: 2 cores of an AMD EPYC, CPU family 25 model 17,
% shared with other builds, load average 3 to 6; medians of 5 interleaved
% rounds, three runs): parcellfun in 2 processes took 1.4 to 6.7 times as
% long as one call at every shape from D = 8 (3000 x 2000) to D = 8192
% (1000 x 1000), as sending each block of C back costs more than computing
% it. Where each process sends back little, such as the nearest distance of
% every column of a within its block (k nearest), it ran at 0.75 to 1.18
% times the speed of one call there: that is the case to try on a machine
% with idle cores.
rand('seed', 3);
a = rand(8, 3000);
b = rand(8, 2000);
block = 500;                              % columns of b per block
starts = 1:block:columns(b);
blocks = arrayfun(@(s) b(:, s:min(s + block - 1, columns(b))), starts, ...
                  'UniformOutput', false);

if ~isempty(pkg('list', 'parallel'))
  pkg load parallel
  processes = nproc();
  parts = parcellfun(processes, @(bj) korvane(a, bj), blocks, 'UniformOutput', false);
  printf('%d blocks of b computed by parcellfun in %d processes\n', numel(blocks), processes);
else
  printf('the parallel package is not installed (Debian: octave-parallel):\n');
  printf('computing the %d blocks one after another\n', numel(blocks));
  parts = cellfun(@(bj) korvane(a, bj), blocks, 'UniformOutput', false);
end
C_blocks = [parts{:}];                    % 3000 x 2000, block after block
C_one = korvane(a, b);                    % the same in one call
same_bits = isequal(typecast(C_blocks(:), 'uint64'), typecast(C_one(:), 'uint64'));
printf('assembled %d x %d: equal to one call %d, bit for bit %d\n', ...
       rows(C_blocks), columns(C_blocks), isequal(C_blocks, C_one), same_bits);
if ~same_bits
  error('the blocks differ from one call');
end
% Expected: equal to one call 1, bit for bit 1.
