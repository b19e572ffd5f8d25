% The 10 nearest references of every query, exactly, on every core of this
% machine. korvane_smallest runs on one thread, but the columns of b are
% independent: split them into blocks, run the blocks in separate processes
% with the parallel package's parcellfun, put the parts side by side, and
% d and i are the very bits of one call, whatever the number of processes
% or blocks.
%
% Sizing the blocks. Each call holds, besides a, only its block of b and its
% results (2 * 8 * k bytes per column of b) and a fixed 130 KB of scratch, so
% memory never limits the block size; time does. Make a few blocks per
% process (4 here), so that a slow process does not hold up the end, and
% each block long enough (at least ~0.1 s: D * n_a * block of 10^9 or so)
% that starting it costs little against computing it. parcellfun forks its
% processes, which share a with this session; blocks and results go
% through pipes.
% Uses Octave's parallel package (Debian: octave-parallel) when it is
% installed; without it, the same blocks are computed one after another.
rand('seed', 5);
references = rand(3, 60000);              % a: 60000 points
queries = rand(3, 2000);                  % b: 2000 points
k = 10;
if ~isempty(pkg('list', 'parallel'))
  pkg load parallel
  processes = nproc();
else
  processes = 1;
end
block = ceil(columns(queries) / (4 * processes));   % columns of b per block
starts = 1:block:columns(queries);
blocks = arrayfun(@(s) queries(:, s:min(s + block - 1, columns(queries))), starts, ...
                  'UniformOutput', false);

% Each block gives {pid, d, i}: the process that ran it and both outputs.
run_block = @(bj) [{getpid()}, nthargout(1:2, @korvane_smallest, references, bj, k)];
if processes > 1
  parts = parcellfun(processes, run_block, blocks, 'UniformOutput', false);
else
  printf('the parallel package is not installed (Debian: octave-parallel):\n');
  printf('computing the blocks one after another\n');
  parts = cellfun(run_block, blocks, 'UniformOutput', false);
end
parts = vertcat(parts{:});
pids = unique([parts{:, 1}]);
d_blocks = [parts{:, 2}];                 % 10 x 2000, block after block
i_blocks = [parts{:, 3}];
printf('%d blocks of %d queries in %d processes (pids %s)\n', numel(blocks), block, ...
       numel(pids), num2str(pids));

[d_one, i_one] = korvane_smallest(references, queries, k);    % the same in one call
same_bits = isequal(typecast(d_blocks(:), 'uint64'), typecast(d_one(:), 'uint64')) ...
            && isequal(i_blocks, i_one);
printf('query 1: nearest references %s\n', mat2str(i_one(1:3, 1)'));
printf('assembled %d x %d: bit for bit one call %d\n', rows(d_blocks), columns(d_blocks), same_bits);
if ~same_bits
  error('the blocks differ from one call');
end
% Expected: bit for bit one call 1.
