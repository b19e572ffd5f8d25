% A Gaussian (RBF) kernel matrix K(i,j) = exp(-|x_i - x_j|^2 / (2 s^2)).
% What korvane guarantees, whatever the BLAS and the machine: distances are
% formed from differences, so they are never negative, korvane(X) is exactly
% symmetric and its diagonal exactly 0. K is therefore exactly symmetric, its
% diagonal exactly 1 and no entry above 1, also for data far from the origin,
% and its bits are the same on every machine.
X = 1e7 + 0.37 + [0 1.01 0.02 3.03;
                  0 0.02 1.03 4.01];  % four points near (1e7, 1e7)
s = 1;
D2 = korvane(X);
K = exp(-D2 / (2 * s^2));
disp(K);
printf('symmetric: %d, diagonal exactly 1: %d, max %.17g, smallest distance %g\n', ...
       isequal(K, K'), all(diag(K) == 1), max(K(:)), min(D2(:)));

% The norm-expansion one-liner forms the same numbers from squared norms of
% about 2e14, whose rounding is of the order of the distances themselves.
% What it gives depends on the BLAS (its order of sums), so it is printed
% here for comparison only.
G = sum(X .^ 2, 1)' + sum(X .^ 2, 1) - 2 * (X' * X);
printf('one-liner with %s:\n  largest difference from korvane %.3g, self-distances %s\n', ...
       version('-blas'), max(abs(G(:) - D2(:))), mat2str(diag(G)', 4));
% Expected: K(1,2) = exp(-0.51025) = 0.6004, K(1,4) = exp(-12.6305) = 3.3e-6;
% symmetric: 1, diagonal exactly 1: 1, max 1, smallest distance 0.
