% KORVANE_SMALLEST  The k smallest exact squared distances to each column.
%
%   d = korvane_smallest(a,b,k)      a is D-by-na, b is D-by-nb (points are
%                                    columns); an empty b ([]) stands for a.
%                                    d is min(k,na)-by-nb: column j holds the
%                                    k smallest entries of korvane(a,b)(:,j)
%                                    in ascending order, to the bit.
%   [d,i] = korvane_smallest(a,b,k)  i, of the same size, holds their row
%                                    indices (columns of a), as doubles.
%
%   The result is exactly that of
%     [s, p] = sort(korvane(a, b), 1);  d = s(1:k, :);  i = p(1:k, :);
%   equal distances come in ascending index order, NaN entries last, in
%   index order. k = 0 gives a 0-by-nb d.
%
%   Examples
%     x = [0 3 0; 0 4 1];                  % three points in the plane
%     [d, i] = korvane_smallest(x, [], 2)  % d = [0 0 0; 1 18 1], i = [1 2 3; 3 3 1]
%     korvane_smallest(x, [1; 1], 1)       % the closest to (1,1): 1
%
%   Memory and time
%     korvane_smallest never forms korvane(a,b): it computes blocks of
%     64-by-256 distances in a fixed buffer of 128 KB, with korvane's own
%     kernels, and keeps for every column of b only its k smallest so far.
%     Besides d and i it needs no memory that grows with na or nb. Most
%     distances are rejected with one comparison against the k-th smallest
%     so far, so for small k it costs less than korvane(a,b), which writes
%     na*nb results. Keeping the k smallest costs time in proportion to k
%     once k reaches the thousands; as k nears na, sort(korvane(a,b)) is
%     faster where it fits in memory. It runs on one thread; split the
%     columns of b over processes or machines for more (the parts give the
%     same bits). In Octave, Ctrl-C stops a long call between blocks.
%
%   Inputs and errors
%     a and b as for korvane; k must be a real double scalar holding a
%     non-negative whole number. Other calls stop with:
%       the usage text           not three arguments, or more than 2 outputs
%       korvane's messages       for a and b, in korvane's order
%       Error: k must be a non-negative integer-valued real double scalar
%       Error: result matrix is too large
%                                d would not fit in the address space
%       Error: row indices beyond 2^53 would not be exact in the index output
%                                i asked for with more than 2^53 points in a
%
%   See also KORVANE, SORT, MIN.

%!shared x
%! x = [0 3 0; 0 4 1];
%!test
%! [d, i] = korvane_smallest (x, [], 2);
%! assert (d, [0 0 0; 1 18 1]);
%! assert (i, [1 2 3; 3 3 1]);
%!assert (korvane_smallest (x, [1; 1], 1), 1)
%!assert (size (korvane_smallest (x, [], 0)), [0 3])
%!assert (size (korvane_smallest (zeros (3, 0), ones (3, 4), 5)), [0 4])
%!test
%! ## k beyond na keeps every row: the whole sorted column.
%! [d, i] = korvane_smallest (x, [], 10);
%! [s, p] = sort (korvane (x), 1);
%! assert (d, s);
%! assert (i, p);

%!test
%! ## Exactly the sort idiom, to the bit, with ties, NaN and Inf, over
%! ## several blocks of a's and b's columns.
%! a = round (4 * rand (3, 700));  b = round (4 * rand (3, 300));
%! a(2, 5) = NaN;  a(1, 9) = Inf;  b(3, 7) = NaN;  b(1, 8) = Inf;
%! [s, p] = sort (korvane (a, b), 1);
%! for k = [1 3 10 300 700 701]
%!   [d, i] = korvane_smallest (a, b, k);
%!   n = min (k, 700);
%!   bits = typecast (reshape (s(1:n, :), [], 1), "uint64");
%!   assert (isequal (typecast (d(:), "uint64"), bits));
%!   assert (isequal (i, p(1:n, :)));
%!   d = korvane_smallest (a, b, k);
%!   assert (isequal (typecast (d(:), "uint64"), bits));
%! endfor

## Every message, and the order of the checks.
%!error <Usage: d = korvane_smallest\(a,b,k\)\n       or: \[d,i\]> korvane_smallest (x, x)
%!error <Usage: d = korvane_smallest\(a,b,k\)> korvane_smallest (x, x, 1, 1)
%!error <Usage: d = korvane_smallest\(a,b,k\)> [p, q, r] = korvane_smallest (x, x, 1)
%!error <Error: argument 1 must be a real, full double matrix> korvane_smallest (single (x), x, -1)
%!error <Error: argument 2 must be a 2-D matrix> korvane_smallest (x, ones (2, 2, 2), -1)
%!error <Error: column lengths must agree> korvane_smallest (x, ones (3, 2), -1)
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], -1)
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], 1.5)
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], NaN)
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], Inf)
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], [1 2])
%!error <Error: k must be a non-negative integer-valued real double scalar> korvane_smallest (x, [], int8 (1))
%!error <Error: result matrix is too large> korvane_smallest (zeros (0, 2^62), zeros (0, 2^62), 2^62)
%!error <Error: row indices beyond 2\^53> [d, i] = korvane_smallest (zeros (0, 2^53 + 2), zeros (0, 1), 1)
