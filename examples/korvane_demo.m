% A short tour of korvane on a small built-in point set: three clusters of
% points in the plane, their nearest neighbours, one k-means step, and the
% per-coordinate split of the within-cluster sum of squares.

% Twelve points (columns) around (0,0), (5,5) and (10,0).
X = [ 0.1 -0.3  0.4  0.0   5.2  4.7  5.1  4.9   10.3  9.8 10.1  9.6;
      0.2  0.1 -0.4  0.3   5.1  4.8  5.3  4.6    0.2 -0.1  0.4 -0.3];
printf('%d points in %d dimensions\n', columns(X), rows(X));

% Squared distances among the points: exactly symmetric, exact zero diagonal.
C = korvane(X);
printf('distance matrix %dx%d, symmetric: %d, zero diagonal: %d\n', ...
       rows(C), columns(C), isequal(C, C'), all(diag(C) == 0));

% Nearest neighbour of each point (ignoring itself).
C(1:rows(C)+1:end) = Inf;
[d2, nearest] = min(C, [], 2);
printf('nearest neighbour of each point:\n');
printf('  point %2d -> point %2d at distance %.4f\n', [1:columns(X); nearest'; sqrt(d2')]);

% One k-means step from three starting centres.
centres = [0 4 9; 1 4 1];
D2 = korvane(X, centres);          % 12 x 3: point-to-centre distances
[~, label] = min(D2, [], 2);
for m = 1:columns(centres)
  centres(:, m) = mean(X(:, label == m), 2);
end
printf('cluster sizes after one step: %s\n', mat2str(accumarray(label, 1)'));
printf('new centres:\n');
printf('  (%.4f, %.4f)\n', centres);

% Weighted form: split the within-cluster sum of squares by coordinate.
W = double(label == (1:columns(centres)));   % 12 x 3 assignment weights
share = korvane(X, centres, W);
total = sum(sum(W .* korvane(X, centres)));
printf('within-cluster sum of squares %.6f = x share %.6f + y share %.6f\n', ...
       total, share(1), share(2));
