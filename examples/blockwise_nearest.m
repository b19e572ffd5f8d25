% Nearest neighbour of every query among more reference points than the
% full matrix of squared distances would allow in memory: walk over the
% references in blocks of columns and keep, for each query, the smallest
% distance seen so far. The largest matrix held is queries x block, whatever
% the number of references. Every entry has the same bits as in one big
% call, and a later block replaces the best only when strictly closer, so
% the answer is the one min(korvane(queries, references), [], 2) would give,
% ties included (the first of equal distances).
rand('seed', 4);
queries = rand(3, 2000);
references = rand(3, 60000);       % all at once: 2000 x 60000, 960 MB
block = 2000;                      % at a time: 2000 x 2000, 32 MB
best = Inf(columns(queries), 1);
nearest = zeros(columns(queries), 1);
for first = 1:block:columns(references)
  cols = first:min(first + block - 1, columns(references));
  [d2, k] = min(korvane(queries, references(:, cols)), [], 2);
  closer = d2 < best;
  best(closer) = d2(closer);
  nearest(closer) = cols(k(closer));
end
printf('%d queries, %d references, blocks of %d: largest matrix held %d x %d (%.0f MB, not %.0f MB)\n', ...
       columns(queries), columns(references), block, columns(queries), block, ...
       8 * columns(queries) * block / 1e6, 8 * columns(queries) * columns(references) / 1e6);
printf('query 1 at (%.4f, %.4f, %.4f): nearest reference %d at distance %.6f\n', ...
       queries(:, 1), nearest(1), sqrt(best(1)));

% Against the full matrix for the first 50 queries (50 x 60000: 24 MB).
[d2_full, nearest_full] = min(korvane(queries(:, 1:50), references), [], 2);
printf('first 50 queries as from the full matrix: same neighbours %d, same distances %d\n', ...
       isequal(nearest_full, nearest(1:50)), isequal(d2_full, best(1:50)));
% Expected: same neighbours 1, same distances 1.
