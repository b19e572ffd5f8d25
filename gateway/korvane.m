% KORVANE  Exact squared Euclidean distances between the columns of matrices.
%
%   C = korvane(a,b)    a is D-by-na, b is D-by-nb (points are columns).
%                       C is na-by-nb with C(i,j) = sum((a(:,i) - b(:,j)).^2).
%                       An empty b ([]) stands for a.
%   C = korvane(a)      the same as korvane(a,a): C is na-by-na.
%   C = korvane(X.', Y.')  for points held as rows (n-by-D, as pdist2 and
%                       knnsearch take them): korvane(X, Y) would take the D
%                       columns for the points and return a D-by-D matrix,
%                       wrong without a word. Points are columns because each
%                       point's coordinates are then adjacent in memory.
%   sqrt(korvane(a,b))  the Euclidean distances themselves.
%   c = korvane(a,b,Q)  Q is na-by-nb (na-by-na when b is empty). c is D-by-1
%                       with c(k) = sum over i, j (i outermost) of
%                       (Q(i,j)*t)*t, t = a(k,i) - b(k,j): the share of
%                       coordinate k in the Q-weighted total
%                       sum(sum(Q .* korvane(a,b))), up to rounding.
%
%   Examples
%     x = [0 3 0; 0 4 1];        % three points in the plane
%     korvane(x)                 % [0 25 1; 25 0 18; 1 18 0]
%     korvane(x, [1; 1])         % distances to the point (1,1): [2; 13; 1]
%     korvane(x, [], ones(3))    % per-coordinate split: [36; 52]
%
%   An empty b stands for a
%     korvane(q, zeros(3, 0)) is korvane(q, q), not a q-by-0 result: in a
%     nearest-neighbour or k-means loop whose reference set can become empty,
%     every query would then find itself at distance 0. Guard such calls:
%       if isempty(b), C = zeros(size(a, 2), 0); else, C = korvane(a, b); end
%
%   Exactness
%     Every entry is summed over the coordinates in ascending order, each
%     difference and each partial sum rounded to double, with no fused
%     multiply-add, on every machine and instruction set. Entries are formed
%     from differences, never from norms and dot products, so a distance is
%     never negative and two identical finite points are exactly 0 apart;
%     korvane(a) is exactly symmetric with an exact zero diagonal. In the
%     weighted form each c(k) adds its terms pair by pair, i outermost, each
%     term rounded as (Q(i,j)*t)*t: korvane(3,0,0.1) is 0.90000000000000013,
%     where 0.1*(3-0)^2 is 0.90000000000000002.
%     NaN in a point gives NaN in its row or column of C; Inf against a finite
%     value gives Inf, and equal infinities give NaN.
%
%   Inputs and errors
%     a, b and Q must be real, full double matrices. Other calls stop with:
%       the usage text           wrong number of arguments (1 to 3) or outputs
%                                (at most 1)
%       Error: argument N must be a real, full double matrix (got ...)
%                                single, integer, logical, char, cell, struct,
%                                function handle, sparse or complex argument
%                                N; the message names what was passed and the
%                                usual fix, such as "(got single; convert
%                                with double(x))" or "(got sparse; use
%                                full(x))" (an empty b of any class still
%                                stands for a)
%       Error: argument N must be a 2-D matrix
%                                argument N has more than two dimensions
%       Error: column lengths must agree
%                                a and a non-empty b differ in row count
%       Error: 3rd matrix argument has wrong dimensions
%                                Q is not na-by-nb
%       Error: result matrix is too large
%                                the result's size in bytes would not fit in
%                                the address space (empty point sets can
%                                state any size)
%
%   Memory
%     The result needs na*nb*8 bytes (D*8 in the weighted form); korvane
%     allocates nothing else and runs on one thread. In Octave 7 the MEX
%     module korvane.mex needs twice that during a call, as Octave copies a
%     MEX function's result on return; where korvane.oct is built, Octave
%     loads it instead and needs the result's memory only once.
%
%   Examples that print what they check (nearest neighbours, a k-means
%   step, a Gaussian kernel, blocks over several cores): examples/ in the
%   source tree; in the installed package
%     fullfile(pkg('list', 'korvane'){1}.dir, 'doc', 'examples')
%
%   See also KORVANE_INFO, SQRT, MIN. PDIST2 (the statistics package:
%   pkg load statistics) takes points as rows and returns distances.

%!shared x
%! x = [0 3 0; 0 4 1];
%!assert (korvane (x), [0 25 1; 25 0 18; 1 18 0])
%!assert (korvane (x, [1; 1]), [2; 13; 1])
%!assert (korvane (x, [], ones (3)), [36; 52])
%!test
%! ## Points as rows, transposed; Euclidean distance as the square root.
%! P = [0 0; 3 4; 0 1];
%! assert (korvane (P.', [1 1].'), [2; 13; 1]);
%! assert (sqrt (korvane (P.', P(2, :).')), [5; 0; sqrt(18)]);
%!test
%! ## An empty b of any shape or class stands for a.
%! assert (korvane (x, []), korvane (x));
%! assert (korvane (x, zeros (5, 0)), korvane (x));
%! assert (korvane (x, int8 ([])), korvane (x));
%!test
%! ## Points with no coordinates, and no points.
%! assert (korvane (zeros (0, 4)), zeros (4));
%! assert (size (korvane (zeros (3, 0), ones (3, 4))), [0 4]);
%! assert (korvane (zeros (2, 0), ones (2, 4), zeros (0, 4)), [0; 0]);

%!test
%! ## Exactly the plain loops: ascending k in every entry, pairs in order in
%! ## every c(k), each operation rounded to double. The offset makes the
%! ## differences cancel, where any other order or a fused multiply-add
%! ## would change the last bits.
%! D = 9; na = 11; nb = 6;
%! a = 1e4 + rand (D, na);  b = 1e4 + rand (D, nb);  Q = rand (na, nb) - 0.5;
%! C = zeros (na, nb);  c = zeros (D, 1);
%! for i = 1:na
%!   for j = 1:nb
%!     s = 0;
%!     for k = 1:D
%!       t = a(k,i) - b(k,j);
%!       s = s + t * t;
%!       c(k) = c(k) + (Q(i,j) * t) * t;
%!     endfor
%!     C(i,j) = s;
%!   endfor
%! endfor
%! assert (korvane (a, b), C);
%! assert (korvane (a, b, Q), c);
%! assert (diag (korvane (a)), zeros (na, 1));

## Every message, and the order of the checks: the counts, then each argument
## in turn (its class, its dimensions, its rows against a), then Q's shape,
## then whether the result can exist.
%!error <Usage: C = korvane\(a,b\)\n       or: C = korvane\(a\)> korvane ()
%!error <Usage: C = korvane\(a,b\)> korvane (1, 2, 3, 4)
%!error <Usage: C = korvane\(a,b\)> [p, q] = korvane (single (1))
%!error <Error: argument 1 must be a real, full double matrix \(got single; convert with double\(x\)\)> korvane (single (1), ones (2))
%!error <Error: argument 2 must be a real, full double matrix \(got complex; use real\(x\) or abs\(x\)\)> korvane (1, 1i)
%!error <Error: argument 3 must be a real, full double matrix \(got sparse; use full\(x\)\)> korvane (1, 1, sparse (1))
%!error <Error: argument 1 must be a 2-D matrix> korvane (ones (2, 2, 2), single (1))
%!error <Error: argument 2 must be a 2-D matrix> korvane (ones (2, 3), ones (2, 2, 2))
%!error <Error: column lengths must agree> korvane (ones (2, 3), ones (3, 3), single (1))
%!error <Error: 3rd matrix argument has wrong dimensions> korvane (x, ones (2, 4), ones (4, 3))
%!error <Error: 3rd matrix argument has wrong dimensions> korvane (zeros (0, 2^32), [], 1)
%!error <Error: result matrix is too large> korvane (zeros (0, 2^32))
