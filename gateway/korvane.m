% KORVANE  Exact squared Euclidean distances between the columns of matrices.
%
%   C = korvane(a,b)    a is D-by-na, b is D-by-nb (points are columns).
%                       C is na-by-nb with C(i,j) = sum((a(:,i) - b(:,j)).^2).
%                       An empty b ([]) stands for a.
%   C = korvane(a)      the same as korvane(a,a): C is na-by-na.
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
%       Error: argument N must be a real, full double matrix
%                                single, integer, logical, char, cell, struct,
%                                sparse or complex argument N (an empty b of
%                                any class still stands for a)
%       Error: column lengths must agree
%                                a and a non-empty b differ in row count
%       Error: 3rd matrix argument has wrong dimensions
%                                Q is not na-by-nb
%
%   Memory
%     The result needs na*nb*8 bytes (D*8 in the weighted form); korvane
%     allocates nothing else and runs on one thread. In Octave 7 the MEX
%     module korvane.mex needs twice that during a call, as Octave copies a
%     MEX function's result on return; where korvane.oct is built, Octave
%     loads it instead and needs the result's memory only once.
%
%   See also PDIST2, SUM.
