% A Gaussian (RBF) kernel matrix K(i,j) = exp(-|x_i - x_j|^2 / (2 s^2)).
% korvane's distances are exact and never negative, so K is exactly
% symmetric, its diagonal is exactly 1 and no entry exceeds 1, even for data
% far from the origin, where the norm-expansion one-liner loses digits.
X = 1e7 + 0.37 + [0 1.01 0.02 3.03;
                  0 0.02 1.03 4.01];  % four points near (1e7, 1e7)
s = 1;
K = exp(-korvane(X) / (2 * s^2));
disp(K);
printf('symmetric: %d, diagonal exactly 1: %d, max %.17g\n', ...
       isequal(K, K'), all(diag(K) == 1), max(K(:)));

% The norm-expansion one-liner on the same points: rounding in the 1e14-sized
% norms shows up as non-zero (even negative) self-distances, and kernel
% values above 1.
G = sum(X .^ 2, 1)' + sum(X .^ 2, 1) - 2 * (X' * X);
printf('one-liner: self-distances %s, largest kernel value %.17g\n', ...
       mat2str(diag(G)', 4), max(max(exp(-G / (2 * s^2)))));
% Expected: K(1,2) = exp(-0.51025) = 0.6004, K(1,4) = exp(-12.6305) = 3.3e-6;
% symmetric: 1, diagonal exactly 1: 1, max 1; the one-liner's self-distances
% are not all 0 and its largest value exceeds 1.
