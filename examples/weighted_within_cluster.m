% Splitting a weighted within-cluster sum of squares into per-coordinate
% shares with the weighted form c = korvane(a, b, Q).
% Six points in 3-D (height, weight, age: already scaled), two centres, and
% soft assignment weights: Q(i,m) is how much point i belongs to centre m.
X = [1.0 1.2 0.8   3.0 3.1 2.9;
     2.0 2.1 1.9   0.5 0.4 0.6;
     0.0 0.3 0.1   1.0 1.5 0.5];
centres = [1.0 3.0;
           2.0 0.5;
           0.1 1.0];
Q = [0.9 0.1; 0.8 0.2; 1.0 0.0; 0.0 1.0; 0.2 0.8; 0.1 0.9];

shares = korvane(X, centres, Q);       % 3 x 1: one share per coordinate
total = sum(sum(Q .* korvane(X, centres)));
printf('weighted within-cluster sum of squares: %.6f\n', total);
labels = {'height', 'weight', 'age'};
for k = 1:rows(X)
  printf('  %-6s %.6f (%4.1f%%)\n', labels{k}, shares(k), 100 * shares(k) / total);
end
printf('shares add up to the total: %d (difference %.3g)\n', ...
       abs(sum(shares) - total) <= 8 * eps(total), sum(shares) - total);
