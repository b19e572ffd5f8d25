% One assignment-and-update step of k-means.
% Twelve points around (0,0), (5,5) and (10,0), and three rough centres.
X = [ 0.1 -0.3  0.4  0.0   5.2  4.7  5.1  4.9   10.3  9.8 10.1  9.6;
      0.2  0.1 -0.4  0.3   5.1  4.8  5.3  4.6    0.2 -0.1  0.4 -0.3];
centres = [1 4 8;
           1 4 1];

D2 = korvane(X, centres);             % 12 x 3: squared distance to each centre
[~, label] = min(D2, [], 2);          % assignment
for m = 1:columns(centres)            % update
  centres(:, m) = mean(X(:, label == m), 2);
end
printf('labels: %s\n', mat2str(label'));
printf('cluster sizes: %s\n', mat2str(accumarray(label, 1)'));
printf('new centres:\n');
printf('  (%7.4f, %7.4f)\n', centres);
% Expected: labels 1 1 1 1 2 2 2 2 3 3 3 3, sizes [4 4 4], centres
% (0.0500, 0.0500), (4.9750, 4.9500), (9.9500, 0.0500).
