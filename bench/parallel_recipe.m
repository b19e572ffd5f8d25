% Where the parcellfun recipe of examples/parallel_blocks.m pays: wall time
% of one call against the same result computed in blocks of b's columns by
% parcellfun in nproc processes, over a range of D, for the full matrix and
% for a small result per block (each process returns only the nearest
% distance of every column of a in its block). Rounds interleave the two
% ways; the table gives medians and their ratio.
%   octave-cli --no-gui --norc --no-history -q bench/parallel_recipe.m <module folder> [rounds]
1;

function seconds = wall(f)
  start = tic();
  f();
  seconds = toc(start);
end

function C = in_blocks(a, b, processes, per_block)
  block = ceil(columns(b) / processes);
  starts = 1:block:columns(b);
  blocks = arrayfun(@(s) b(:, s:min(s + block - 1, columns(b))), starts, 'UniformOutput', false);
  parts = parcellfun(processes, @(bj) per_block(a, bj), blocks, 'UniformOutput', false, ...
                     'VerboseLevel', 0);
  C = [parts{:}];
end

args = argv();
addpath(args{1});
rounds = 5;
if numel(args) >= 2
  rounds = str2double(args{2});
end
pkg load parallel
processes = nproc();
full_matrix = @(a, bj) korvane(a, bj);
nearest = @(a, bj) min(korvane(a, bj), [], 2);
shapes = [8 3000 2000; 64 3000 2000; 512 3000 2000; 2048 1000 1000; 8192 1000 1000;
          8 3000 20000; 64 3000 20000; 512 2000 4000; 512 2000 16000; 2048 1000 8000];
kinds = [repmat({'full'}, 1, 5), repmat({'nearest'}, 1, 5)];
printf('%d processes (nproc), %d interleaved rounds, median wall time\n', processes, rounds);
printf('%-8s %5s %6s %6s %10s %10s %8s\n', 'result', 'D', 'na', 'nb', 'one call', 'parcellfun', 'ratio');
for s = 1:rows(shapes)
  rand('seed', s);
  a = rand(shapes(s, 1), shapes(s, 2));
  b = rand(shapes(s, 1), shapes(s, 3));
  if strcmp(kinds{s}, 'full')
    per_block = full_matrix;
    one = @() korvane(a, b);
  else
    per_block = nearest;
    one = @() min(korvane(a, b), [], 2);
  end
  ref = one();
  got = in_blocks(a, b, processes, per_block);
  if strcmp(kinds{s}, 'nearest')
    got = min(got, [], 2);
  end
  if ~isequal(typecast(got(:), 'uint64'), typecast(ref(:), 'uint64'))
    error('blocks differ from one call at shape %d', s);
  end
  t = zeros(rounds, 2);
  for r = 1:rounds
    t(r, 1) = wall(one);
    t(r, 2) = wall(@() in_blocks(a, b, processes, per_block));
  end
  m = median(t, 1);
  printf('%-8s %5d %6d %6d %9.3fs %9.3fs %7.2fx\n', kinds{s}, shapes(s, :), m(1), m(2), m(1) / m(2));
end
